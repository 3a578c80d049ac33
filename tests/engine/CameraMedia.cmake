# Webcam-like MJPEG clips for the camera tests and benchmark: noisy pictures
# of about 200 KB per 1080p frame.
set(quindle_camera_clips)
foreach(size 320x240 1920x1080)
    set(output ${QUINDLE_TEST_MEDIA_DIR}/cam_${size}_30.mjpeg)
    add_custom_command(OUTPUT ${output}
        COMMAND ${QUINDLE_FFMPEG} -nostdin -v error -y
            -f lavfi -i testsrc2=size=${size}:rate=30:duration=2 -vf noise=alls=6:allf=t
            -pix_fmt yuvj422p -c:v mjpeg -q:v 4 -f mjpeg ${output}
        COMMENT "Generating camera clip cam_${size}_30.mjpeg"
        VERBATIM)
    list(APPEND quindle_camera_clips ${output})
endforeach()
add_custom_target(camera_test_media DEPENDS ${quindle_camera_clips})
