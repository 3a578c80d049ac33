#pragma once

namespace pelorn {

// The compositor pool's kernels. 0 is the empty barrier and not a kernel.
enum KernelId : int {
    kKernelBandCopy = 1,        // copy a buffer
    kKernelGreyMask = 4,        // mask as a grey picture
    kKernelClassify = 5,        // classification table, green keyer
    kKernelClassifyBlue = 6,    // classification table, blue keyer
    kKernelLevelTable = 8,      // level table
    kKernelLevelApply = 9,      // level adjustment of the working picture
    kKernelMaskFilter = 10,     // 3 x 3 mask filter
    kKernelMattUyvy = 11,       // matting lookup, UYVY422
    kKernelReverseBits = 12,    // reverse the bit order of every byte
    kKernelFill = 13,           // fill a buffer with one byte
    kKernelDebugTint = 14,      // debug processing: tint the soft edge
    kKernelSkinBlend = 17,      // beauty result weighted by the skin class
    kKernelBlend = 18,          // presenter over background (the module's blend)
    kKernelDebugOutline = 19,   // debug overlay: mask outline
    kKernelYuvToBgr = 20,       // source picture to BGR24
    kKernelCanvasToBgr = 21,    // BGRA canvas to BGR24
    kKernelBgrToBgra = 22,      // working picture to BGRA output
    kKernelBgrToYuv = 23,       // BGR24 back to the source format
    kKernelMattYuyv = 24,       // matting lookup, YUYV422
    kKernelSubjectBounds = 25,  // bounding rectangle of the opaque mask
    kKernelMattYuvj422p = 26,   // matting lookup, YUVJ422P
    kKernelDerived = 27,        // derived-colour table
    kKernelColourSlice = 28,    // colour table at lightness 128
    kKernelOverlayBlend = 29,   // frame picture over the background by its alpha
    kKernelClearOutside = 30,   // zero a picture outside a rectangle
    kKernelMattPacked444 = 31,  // matting lookup, packed 3-byte samples
};

}  // namespace pelorn
