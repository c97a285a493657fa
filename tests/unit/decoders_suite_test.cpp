// Every file of the public suites our decoders cover, loaded the way the
// program loads it (by extension, then widened to 24 bits) and compared with
// its reference rendering, or checked for the expected error.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "imageio/picture.h"
#include "raster/byte_io.h"
#include "raster/errors.h"

namespace tsx {
namespace {

const std::string kRoot = TESSERIX_SOURCE_DIR "/../shared/testdata/formats/";

enum class Outcome {
    Matches,   // decodes and equals the reference within the tolerance
    Decodes,   // decodes to a picture (of the size in detail, when one is given); no reference to compare
    Empty,     // decodes to an empty picture
    Fails,     // raises; the message is checked when one is given
};

struct Case {
    const char* file;
    Outcome outcome;
    const char* detail = "";  // reference file, or expected message
    int tolerance = 0;
};

struct Ppm {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

// The references are binary P6 files with maximum 255 (or 65535: high bytes).
Ppm readReference(const std::string& path)
{
    const std::vector<uint8_t> bytes = readWholeFile(path);
    Ppm p;
    size_t at = 2;
    auto number = [&] {
        while (at < bytes.size() && (std::isspace(bytes[at]) || bytes[at] == '#')) {
            if (bytes[at] == '#')
                while (at < bytes.size() && bytes[at] != '\n')
                    ++at;
            else
                ++at;
        }
        int v = 0;
        while (at < bytes.size() && std::isdigit(bytes[at]))
            v = v * 10 + (bytes[at++] - '0');
        return v;
    };
    const bool grey = bytes[1] == '5';
    p.width = number();
    p.height = number();
    const int maxValue = number();
    ++at;
    const size_t sampleBytes = maxValue > 255 ? 2 : 1;
    const size_t channels = grey ? 1 : 3;
    for (size_t i = 0; i < size_t(p.width) * size_t(p.height); ++i)
        for (size_t c = 0; c < 3; ++c)
            p.rgb.push_back(bytes.at(at + (i * channels + (grey ? 0 : c)) * sampleBytes));
    return p;
}

// Channels outside the tolerance, as "x,y" of the first one and the count.
std::string compare(const TDIB& dib, const Ppm& ref, int tolerance)
{
    if (dib.Width() != ref.width || dib.Height() != ref.height)
        return "size " + std::to_string(dib.Width()) + "x" + std::to_string(dib.Height()) + ", reference "
            + std::to_string(ref.width) + "x" + std::to_string(ref.height);
    size_t bad = 0;
    std::string first;
    for (int y = 0; y < dib.Height(); ++y) {
        const uint8_t* row = dib.ScanLine(y);
        for (int x = 0; x < dib.Width(); ++x) {
            const uint8_t* want = &ref.rgb[(size_t(y) * size_t(ref.width) + size_t(x)) * 3];
            for (int c = 0; c < 3; ++c) {
                if (std::abs(int(row[3 * x + 2 - c]) - int(want[c])) > tolerance) {
                    if (bad++ == 0)
                        first = std::to_string(x) + "," + std::to_string(y);
                }
            }
        }
    }
    return bad == 0 ? "" : std::to_string(bad) + " channels differ, first at " + first;
}

const Case kCases[] = {
    // GIF
    {"gif-test-suite/animated_loop.gif", Outcome::Matches, "gif-test-suite/reference/animated_loop-0.ppm"},
    {"gif-test-suite/animated_loop_interlaced.gif", Outcome::Matches, "gif-test-suite/reference/animated_loop_interlaced-0.ppm"},
    {"gif-test-suite/animated_loop_variable_delay.gif", Outcome::Matches, "gif-test-suite/reference/animated_loop_variable_delay-0.ppm"},
    {"gif-test-suite/animated_noloop.gif", Outcome::Matches, "gif-test-suite/reference/animated_noloop-0.ppm"},
    {"gif-test-suite/animated_transparent_firstframerestoreprev_loop.gif", Outcome::Decodes},
    {"gif-test-suite/animated_transparent_frame_norestore_loop.gif", Outcome::Decodes},
    {"gif-test-suite/animated_transparent_frame_restorebackground_loop.gif", Outcome::Decodes},
    {"gif-test-suite/animated_transparent_frame_restoreprev_loop.gif", Outcome::Decodes},
    {"gif-test-suite/animated_transparent_loop.gif", Outcome::Decodes},
    {"gif-test-suite/animated_transparent_loop_frames_out_of_bounds.gif", Outcome::Decodes},
    {"gif-test-suite/animated_transparent_restoreprev_loop.gif", Outcome::Decodes},
    {"gif-test-suite/static_nontransparent.gif", Outcome::Decodes},
    {"gif-test-suite/static_transparent.gif", Outcome::Decodes},
    // the first image is smaller than the screen: the picture has the image's size, the references the screen's
    {"image-rs/images/gif/anim/any-disposal.gif", Outcome::Decodes},
    {"image-rs/images/gif/anim/border_touching_layers.gif", Outcome::Decodes},
    {"image-rs/images/gif/anim/interlaced.gif", Outcome::Matches, "image-rs/reference/gif/anim/interlaced.gif.ppm"},
    {"image-rs/images/gif/anim/issue_1455_undersized.gif", Outcome::Decodes},
    {"image-rs/images/gif/anim/large-gif-anim-combine.gif", Outcome::Decodes},
    {"image-rs/images/gif/anim/large-gif-anim-full-frame-replace.gif", Outcome::Decodes},
    {"image-rs/images/gif/anim/mixed-disposal.gif", Outcome::Decodes},
    {"image-rs/images/gif/anim/oob.gif", Outcome::Decodes, "16x16"},
    {"image-rs/images/gif/simple/alpha_gif_a.gif", Outcome::Decodes},
    {"image-rs/images/gif/simple/issue_1455_oversized.gif", Outcome::Decodes, "16x16"},
    {"image-rs/images/gif/simple/sample_1.gif", Outcome::Matches, "image-rs/reference/gif/simple/sample_1.gif.ppm"},
    {"pillow/gif/background_outside_palette.gif", Outcome::Decodes},
    {"pillow/gif/chi.gif", Outcome::Decodes},
    {"pillow/gif/comment_after_only_frame.gif", Outcome::Decodes},
    {"pillow/gif/decompression_bomb.gif", Outcome::Fails, "Not a valid GIF file."},
    {"pillow/gif/dispose_none.gif", Outcome::Decodes},
    {"pillow/gif/first_frame_transparency.gif", Outcome::Decodes},
    {"pillow/gif/hopper.gif", Outcome::Decodes},
    {"pillow/gif/hopper_zero_comment_subblocks.gif", Outcome::Decodes},
    {"pillow/gif/no_palette.gif", Outcome::Decodes, "1x1"},
    {"pillow/gif/test.colors.gif", Outcome::Decodes},
    {"pillow/gif/test_extents.gif", Outcome::Decodes},
    {"pillow/gif/text_mono.gif", Outcome::Decodes},
    {"pillow/gif/transparent.gif", Outcome::Decodes},
    {"pillow/gif/zero_width.gif", Outcome::Fails, "Not a valid GIF file."},
    // PCX
    {"pillow/pcx/01r_00.pcx", Outcome::Decodes},
    {"pillow/pcx/odd_stride.pcx", Outcome::Decodes},
    {"pillow/pcx/ossfuzz-4836216264589312.pcx", Outcome::Fails, "PCX: wrong pixel format"},
    {"pillow/pcx/p_4_planes.pcx", Outcome::Decodes},
    {"pillow/pcx/pil184.pcx", Outcome::Decodes},
    // the portable family
    {"pillow/pnm/16_bit_binary.pgm", Outcome::Decodes},
    {"pillow/pnm/courB08.pbm", Outcome::Fails, "Not a valid ppm file."},
    {"pillow/pnm/hopper.pnm", Outcome::Fails, "Unknown picture file extension (.pnm)"},
    // an older rendering of the picture than the reference
    {"pillow/pnm/hopper.ppm", Outcome::Decodes},
    {"pillow/pnm/hopper_16bit.pgm", Outcome::Decodes},
    {"pillow/pnm/hopper_16bit_plain.pgm", Outcome::Decodes},
    {"pillow/pnm/hopper_1bit.pbm", Outcome::Decodes},
    {"pillow/pnm/hopper_1bit_plain.pbm", Outcome::Decodes},
    {"pillow/pnm/hopper_8bit.pgm", Outcome::Decodes},
    {"pillow/pnm/hopper_8bit.ppm", Outcome::Matches, "pillow/reference/hopper.ppm"},
    {"pillow/pnm/hopper_8bit_plain.pgm", Outcome::Decodes},
    {"pillow/pnm/hopper_8bit_plain.ppm", Outcome::Matches, "pillow/reference/hopper.ppm"},
    {"pillow/pnm/negative_size.ppm", Outcome::Fails},
    {"image-rs/images/pbm/images/issue-794.pbm", Outcome::Decodes, "10x10"},
    {"image-rs/images/pbm/images/narrow.pbm", Outcome::Matches, "image-rs/reference/pbm/images/narrow.pbm.ppm"},
    {"libtiff/minisblack-1c-8b.pgm", Outcome::Decodes},
    {"libtiff/miniswhite-1c-1b.pbm", Outcome::Decodes},
    {"libtiff/rgb-3c-8b.ppm", Outcome::Decodes},
    // Photoshop
    {"pillow/psd/combined_larger_than_size.psd", Outcome::Fails, "Stream read error"},
    {"pillow/psd/five_channels.psd", Outcome::Decodes},
    // saved with slightly different colours: near the reference, never far from it
    {"pillow/psd/hopper.psd", Outcome::Matches, "pillow/reference/hopper.ppm", 48},
    {"pillow/psd/hopper_merged.psd", Outcome::Matches, "pillow/reference/hopper.ppm", 48},
    {"pillow/psd/negative_layer_count.psd", Outcome::Decodes},
    {"pillow/psd/negative_top_left_layer.psd", Outcome::Decodes},
    {"pillow/psd/psd-oob-write-overflow.psd", Outcome::Decodes, "10x10"},
    {"pillow/psd/psd-oob-write-x.psd", Outcome::Decodes, "1x1"},
    {"pillow/psd/psd-oob-write-y.psd", Outcome::Decodes, "1x1"},
    {"pillow/psd/psd-oob-write.psd", Outcome::Decodes, "100x100"},
    {"pillow/psd/rgba.psd", Outcome::Decodes},
    // SGI
    {"pillow/sgi/crash-6b7f2244da6d0ae297ee0754a424213444e92778.sgi", Outcome::Fails, "Stream read error"},
    {"pillow/sgi/crash-754d9c7ec485ffb76a90eeaab191ef69a2a3a3cd.sgi", Outcome::Decodes, "1x1"},
    {"pillow/sgi/hopper.bw", Outcome::Decodes},
    // the SGI files hold the same older rendering as hopper.ppm
    {"pillow/sgi/hopper.rgb", Outcome::Matches, "pillow/pnm/hopper.ppm"},
    {"pillow/sgi/hopper.sgi", Outcome::Matches, "pillow/pnm/hopper.ppm"},
    {"pillow/sgi/hopper16.rgb", Outcome::Matches, "pillow/pnm/hopper.ppm", 1},
    {"pillow/sgi/ossfuzz-5730089102868480.sgi", Outcome::Decodes, "1x1"},
    {"pillow/sgi/transparent.sgi", Outcome::Decodes},
    // Targa
    {"pillow/tga/200x32_p_bl_raw_origin.tga", Outcome::Matches, "pillow/tga/common/200x32_p.ppm"},
    {"pillow/tga/common/1x1_l_bl_raw.tga", Outcome::Matches, "pillow/tga/common/1x1_l.ppm"},
    {"pillow/tga/common/1x1_l_bl_rle.tga", Outcome::Matches, "pillow/tga/common/1x1_l.ppm"},
    {"pillow/tga/common/1x1_l_tl_raw.tga", Outcome::Matches, "pillow/tga/common/1x1_l.ppm"},
    {"pillow/tga/common/1x1_l_tl_rle.tga", Outcome::Matches, "pillow/tga/common/1x1_l.ppm"},
    {"pillow/tga/common/200x32_l_bl_raw.tga", Outcome::Matches, "pillow/tga/common/200x32_l.ppm"},
    {"pillow/tga/common/200x32_l_bl_rle.tga", Outcome::Matches, "pillow/tga/common/200x32_l.ppm"},
    {"pillow/tga/common/200x32_l_tl_raw.tga", Outcome::Matches, "pillow/tga/common/200x32_l.ppm"},
    {"pillow/tga/common/200x32_l_tl_rle.tga", Outcome::Matches, "pillow/tga/common/200x32_l.ppm"},
    {"pillow/tga/common/200x32_la_bl_raw.tga", Outcome::Decodes},
    {"pillow/tga/common/200x32_la_bl_rle.tga", Outcome::Decodes},
    {"pillow/tga/common/200x32_la_tl_raw.tga", Outcome::Decodes},
    {"pillow/tga/common/200x32_la_tl_rle.tga", Outcome::Decodes},
    {"pillow/tga/common/200x32_p_bl_raw.tga", Outcome::Matches, "pillow/tga/common/200x32_p.ppm"},
    {"pillow/tga/common/200x32_p_bl_rle.tga", Outcome::Matches, "pillow/tga/common/200x32_p.ppm"},
    {"pillow/tga/common/200x32_p_tl_raw.tga", Outcome::Matches, "pillow/tga/common/200x32_p.ppm"},
    {"pillow/tga/common/200x32_p_tl_rle.tga", Outcome::Matches, "pillow/tga/common/200x32_p.ppm"},
    {"pillow/tga/common/200x32_rgb_bl_raw.tga", Outcome::Matches, "pillow/tga/common/200x32_rgb.ppm"},
    {"pillow/tga/common/200x32_rgb_bl_rle.tga", Outcome::Matches, "pillow/tga/common/200x32_rgb.ppm"},
    {"pillow/tga/common/200x32_rgb_tl_raw.tga", Outcome::Matches, "pillow/tga/common/200x32_rgb.ppm"},
    {"pillow/tga/common/200x32_rgb_tl_rle.tga", Outcome::Matches, "pillow/tga/common/200x32_rgb.ppm"},
    {"pillow/tga/common/200x32_rgba_bl_raw.tga", Outcome::Decodes},
    {"pillow/tga/common/200x32_rgba_bl_rle.tga", Outcome::Decodes},
    {"pillow/tga/common/200x32_rgba_tl_raw.tga", Outcome::Decodes},
    {"pillow/tga/common/200x32_rgba_tl_rle.tga", Outcome::Decodes},
    {"pillow/tga/cross_scan_line.tga", Outcome::Decodes},
    {"pillow/tga/cross_scan_line_truncated.tga", Outcome::Decodes, "64x64"},
    {"pillow/tga/la.tga", Outcome::Decodes},
    {"pillow/tga/p_16.tga", Outcome::Decodes},
    {"pillow/tga/p_8.tga", Outcome::Fails, "Stream read error"},
    {"pillow/tga/rgb32rle.tga", Outcome::Decodes},
    {"pillow/tga/rgb32rle_bottom_right.tga", Outcome::Decodes},
    {"pillow/tga/rgb32rle_top_right.tga", Outcome::Decodes},
    {"pillow/tga/rgba16.tga", Outcome::Decodes},
    {"pillow/tga/tga_id_field.tga", Outcome::Decodes},
    // TIFF
    {"pillow/tiff/12bit.cropped.tif", Outcome::Fails, "TIFF: unsupported pixel layout"},
    {"pillow/tiff/16bit.MM.cropped.tif", Outcome::Decodes},
    {"pillow/tiff/16bit.cropped.tif", Outcome::Decodes},
    {"pillow/tiff/compression.tif", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"pillow/tiff/copyleft.tiff", Outcome::Decodes},
    {"pillow/tiff/crash-0da013a13571cc8eb457a39fee8db18f8a3c7127.tif", Outcome::Fails},
    {"pillow/tiff/crash-86214e58da443d2b80820cff9677a38a33dcbbca.tif", Outcome::Fails},
    {"pillow/tiff/hopper.Lab.tif", Outcome::Decodes},
    {"pillow/tiff/hopper.tif", Outcome::Matches, "pillow/reference/hopper.ppm"},
    {"pillow/tiff/hopper2.tif", Outcome::Fails, "TIFF: unsupported pixel layout"},
    {"pillow/tiff/hopper4.tif", Outcome::Decodes},
    {"pillow/tiff/hopper4I.tif", Outcome::Decodes},
    {"pillow/tiff/hopper4IR.tif", Outcome::Decodes},
    {"pillow/tiff/hopper4R.tif", Outcome::Decodes},
    {"pillow/tiff/hopper_bigtiff.tif", Outcome::Fails, "Invalid TIFF file."},
    {"pillow/tiff/hopper_g4.tif", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"pillow/tiff/hopper_gray_4bpp.tif", Outcome::Decodes},
    {"pillow/tiff/hopper_jpg.tif", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"pillow/tiff/hopper_lzw.tif", Outcome::Matches, "pillow/reference/hopper.ppm"},
    {"pillow/tiff/lab-green.tif", Outcome::Decodes},
    {"pillow/tiff/lab-red.tif", Outcome::Decodes},
    {"pillow/tiff/lab.tif", Outcome::Decodes},
    {"pillow/tiff/libtiff_segfault.tif", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"pillow/tiff/multipage.tiff", Outcome::Decodes},
    {"pillow/tiff/oom-225817ca0f8c663be7ab4b9e717b02c661e66834.tif", Outcome::Fails, "Stream read error"},
    {"pillow/tiff/pil136.tiff", Outcome::Decodes},
    {"pillow/tiff/pil168.tif", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"pillow/tiff/seek_too_large.tif", Outcome::Fails},
    {"pillow/tiff/separate_planar_extra_samples.tiff", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"pillow/tiff/tiff_16bit_RGB.tiff", Outcome::Fails},
    {"pillow/tiff/tiff_16bit_RGBa.tiff", Outcome::Decodes},
    {"pillow/tiff/tiff_strip_planar_lzw.tiff", Outcome::Decodes},
    {"pillow/tiff/tiff_strip_raw.tif", Outcome::Decodes},
    {"pillow/tiff/tiff_tiled_raw.tif", Outcome::Fails, "Invalid TIFF file."},
    {"libtiff/32bpp-None-jpeg.tiff", Outcome::Decodes},
    {"libtiff/32bpp-None.tiff", Outcome::Decodes},
    {"libtiff/custom_dir_EXIF_GPS.tiff", Outcome::Decodes},
    {"libtiff/deflate-last-strip-extra-data.tiff", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"libtiff/logluv-3c-16b.tiff", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"libtiff/lzw-single-strip.tiff", Outcome::Decodes},
    {"libtiff/minisblack-1c-16b.tiff", Outcome::Matches, "libtiff/minisblack-1c-8b.pgm", 1},
    {"libtiff/minisblack-1c-8b.tiff", Outcome::Matches, "libtiff/minisblack-1c-8b.pgm"},
    {"libtiff/minisblack-2c-8b-alpha.tiff", Outcome::Decodes},
    {"libtiff/miniswhite-1c-1b.g3", Outcome::Fails, "Unknown picture file extension (.g3)"},
    {"libtiff/miniswhite-1c-1b.tiff", Outcome::Decodes},
    {"libtiff/ojpeg_chewey_subsamp21_multi_strip.tiff", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"libtiff/ojpeg_single_strip_no_rowsperstrip.tiff", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"libtiff/ojpeg_zackthecat_subsamp22_single_strip.tiff", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"libtiff/palette-1c-1b.tiff", Outcome::Decodes},
    {"libtiff/palette-1c-4b.tiff", Outcome::Decodes},
    {"libtiff/palette-1c-8b.tiff", Outcome::Decodes},
    {"libtiff/quad-lzw-compat.tiff", Outcome::Decodes, "512x384"},
    {"libtiff/quad-tile.jpg.tiff", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"libtiff/rgb-3c-16b.tiff", Outcome::Matches, "libtiff/rgb-3c-16b.ppm", 1},
    {"libtiff/rgb-3c-8b.tiff", Outcome::Matches, "libtiff/rgb-3c-8b.ppm"},
    {"libtiff/test_float64_predictor2_be_lzw.tif", Outcome::Fails, "TIFF: unsupported pixel layout"},
    {"libtiff/test_float64_predictor2_le_lzw.tif", Outcome::Fails, "TIFF: unsupported pixel layout"},
    {"libtiff/test_ifd_loop_subifd.tif", Outcome::Decodes},
    {"libtiff/test_ifd_loop_to_first.tif", Outcome::Decodes},
    {"libtiff/test_ifd_loop_to_self.tif", Outcome::Decodes},
    {"libtiff/test_two_ifds.tif", Outcome::Decodes},
    {"libtiff/testfax3_bug54_1dnoEOL.tif", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"libtiff/testfax3_bug_513.tiff", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"libtiff/testfax4.tiff", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"libtiff/tiff_with_subifd_chain.tif", Outcome::Fails, "Invalid TIFF file."},
    {"libtiff/webp_lossless_rgba_alpha_fully_opaque.tif", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"image-rs/bad/tiff/TODO hpredict_cmyk.tiff", Outcome::Decodes, "32x32"},
    {"image-rs/images/tiff/testsuite/cmyk_u8_edge_case.tif", Outcome::Decodes},
    {"image-rs/images/tiff/testsuite/cmyk_u8_trunc_case.tif", Outcome::Decodes},
    {"image-rs/images/tiff/testsuite/fax4.tiff", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"image-rs/images/tiff/testsuite/hpredict.tiff", Outcome::Decodes},
    {"image-rs/images/tiff/testsuite/hpredict_packbits.tiff", Outcome::Decodes},
    {"image-rs/images/tiff/testsuite/l1.tiff", Outcome::Matches, "image-rs/reference/tiff/testsuite/l1.tiff.ppm"},
    {"image-rs/images/tiff/testsuite/l1_xmp.tiff", Outcome::Decodes},
    {"image-rs/images/tiff/testsuite/mandrill.tiff", Outcome::Matches, "image-rs/reference/tiff/testsuite/mandrill.tiff.ppm"},
    {"image-rs/images/tiff/testsuite/planar.tiff", Outcome::Matches, "image-rs/reference/tiff/testsuite/planar.tiff.ppm"},
    {"image-rs/images/tiff/testsuite/rgb-3c-16b.tiff", Outcome::Matches, "image-rs/reference/tiff/testsuite/rgb-3c-16b.tiff.ppm", 1},
    {"image-rs/images/tiff/testsuite/rgb32f_bw.tiff", Outcome::Fails, "TIFF: unsupported pixel layout"},
    {"image-rs/images/tiff/testsuite/rgb32f_color.tiff", Outcome::Fails, "TIFF: unsupported pixel layout"},
    {"image-rs/images/tiff/testsuite/ycbcr_jpeg_8bit.tif", Outcome::Fails, "TIFF: Unknown compression scheme"},
    {"image-rs/images/tiff/testsuite/ycbcr_lzw_broken.tif", Outcome::Decodes, "601x81"},
    {"image-rs/images/tiff/testsuite/ycbcr_lzw_bt709.tif", Outcome::Decodes},
};

class SuiteFiles : public ::testing::TestWithParam<Case> {};

TEST_P(SuiteFiles, DecodeAsTheSuiteExpects)
{
    const Case& c = GetParam();
    if (!std::filesystem::exists(kRoot))
        GTEST_SKIP() << "public test images not found at " << kRoot;
    const std::string path = kRoot + c.file;
    ASSERT_TRUE(std::filesystem::exists(path)) << path;

    TPicture picture;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    try {
        LoadPicture(path, picture);
    } catch (const std::exception& e) {
        error = e.what();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 5.0) << "decoding took too long";

    switch (c.outcome) {
    case Outcome::Matches: {
        ASSERT_EQ(error, "");
        ASSERT_NE(picture.Width(), 0);
        const TDIB* dib = picture.Graphic()->PixelRaster();
        ASSERT_NE(dib, nullptr);
        ASSERT_EQ(dib->BitCount(), 24);
        EXPECT_EQ(compare(*dib, readReference(kRoot + c.detail), c.tolerance), "");
        break;
    }
    case Outcome::Decodes:
        EXPECT_EQ(error, "");
        EXPECT_GT(picture.Width(), 0);
        if (*c.detail) {
            EXPECT_EQ(std::to_string(picture.Width()) + "x" + std::to_string(picture.Height()), c.detail);
        }
        break;
    case Outcome::Empty:
        EXPECT_EQ(error, "");
        EXPECT_EQ(picture.Width(), 0);
        break;
    case Outcome::Fails:
        EXPECT_NE(error, "") << "expected an error, got a " << picture.Width() << "x" << picture.Height() << " picture";
        if (*c.detail) {
            EXPECT_EQ(error, c.detail);
        }
        break;
    }
}

std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    std::string name = std::to_string(info.index) + "_" + std::filesystem::path(info.param.file).filename().string();
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(PublicSuites, SuiteFiles, ::testing::ValuesIn(kCases), caseName);

}  // namespace
}  // namespace tsx
