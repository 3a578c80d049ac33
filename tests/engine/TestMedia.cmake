# Small clips for the playback tests, made by the ffmpeg program at build time
# into the build tree. Tests read them from QUINDLE_TEST_MEDIA_DIR and derive
# damaged copies of their own in a temporary folder.
find_program(QUINDLE_FFMPEG ffmpeg REQUIRED)
set(QUINDLE_TEST_MEDIA_DIR ${CMAKE_CURRENT_BINARY_DIR}/media)
file(MAKE_DIRECTORY ${QUINDLE_TEST_MEDIA_DIR})

set(quindle_test_clips)
# quindle_test_clip(<file name> <ffmpeg arguments>...)
function(quindle_test_clip name)
    set(output ${QUINDLE_TEST_MEDIA_DIR}/${name})
    add_custom_command(OUTPUT ${output}
        COMMAND ${QUINDLE_FFMPEG} -nostdin -v error -y ${ARGN} ${output}
        COMMENT "Generating test clip ${name}"
        VERBATIM)
    set(quindle_test_clips ${quindle_test_clips} ${output} PARENT_SCOPE)
endfunction()

set(quindle_x264 -c:v libx264 -preset veryfast -crf 32 -pix_fmt yuv420p)

# 2 s at 30 fps with a sound track.
quindle_test_clip(av_320x240_30.mp4
    -f lavfi -i testsrc2=size=320x240:rate=30:duration=2
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=2
    ${quindle_x264} -c:a aac -b:a 32k)
# 10 frames with reordered frames: its first key frame is decoded before 0.
quindle_test_clip(loop_320x240_30.mp4
    -f lavfi -i testsrc2=size=320x240:rate=30:duration=0.334 ${quindle_x264})
# Five frames, then the time stamps jump ten minutes ahead.
quindle_test_clip(gap_320x240_30.mkv
    -f lavfi -i testsrc2=size=320x240:rate=30:duration=1
    -vf "setpts='if(gte(N,5),PTS+600/TB,PTS)'" -fps_mode passthrough
    ${quindle_x264} -bf 0)
# Three seconds to stream over a local socket (Matroska plays from the start).
quindle_test_clip(stream_320x240_30.mkv
    -f lavfi -i testsrc2=size=320x240:rate=30:duration=3 ${quindle_x264})
# Transport stream with its audio on PID 0x101 (the test drops those packets
# to leave an audio stream without channels).
quindle_test_clip(av_320x240_30.ts
    -f lavfi -i testsrc2=size=320x240:rate=30:duration=1
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=1
    ${quindle_x264} -c:a aac -b:a 32k -mpegts_start_pid 0x100)
# Uncompressed AVI: the test clears its bit depth so that no decoder opens.
quindle_test_clip(raw_64x48_5.avi
    -f lavfi -i testsrc=size=64x48:rate=5:duration=1 -c:v rawvideo -pix_fmt bgr24)
quindle_test_clip(audio_only.m4a -f lavfi -i sine=duration=1 -c:a aac -b:a 32k)
# Pictures for each relation to a 1280 x 720 output; half a second each.
foreach(size 1280x720 640x360 1920x1080 1920x480)
    quindle_test_clip(pic_${size}_30.mkv
        -f lavfi -i testsrc2=size=${size}:rate=30:duration=0.5 ${quindle_x264})
endforeach()

# A grey box standing on a green backdrop, for the whole chain with a screen
# behind it.
quindle_test_clip(greenbox_1280x720_30.mkv
    -f lavfi -i color=c=0x00ff00:size=1280x720:rate=30:duration=1
    -vf drawbox=x=480:y=240:w=320:h=240:color=0x808080:t=fill ${quindle_x264})

add_custom_target(engine_test_media DEPENDS ${quindle_test_clips})
