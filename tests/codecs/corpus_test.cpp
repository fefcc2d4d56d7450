#include "codecs/metafile_decoder.h"
#include "support/corpus.h"

#include <gtest/gtest.h>

// Real files from public test suites, decoded and compared with their reference decodes.
TEST(CorpusTest, Bmp) {
    // Bit fields narrower than 8 bits are widened by copying their top bits down, so full
    // scale stays full scale (31 of 31 is 255); these references shift them left instead.
    const CorpusDeviation shifted{"the reference shifts bit fields narrower than 8 bits left; the library widens them to full scale",
                                  "tol:15"};
    CheckCorpusFormat("bmp", {{"corpus/bmp/pil_bmpsuite_q_rgba16-4444.bmp", shifted},
                              {"corpus/bmp/tm_blauesglas_16_bitmask444.bmp", shifted},
                              {"corpus/bmp/pil_bmpsuite_q_rgb16-231.bmp",
                               {"the reference shifts 1- to 3-bit fields left; the library widens them to full scale",
                                "tol:127"}}});
}
TEST(CorpusTest, Pcx) { CheckCorpusFormat("pcx"); }
TEST(CorpusTest, Tga) { CheckCorpusFormat("tga"); }
TEST(CorpusTest, Pgm) { CheckCorpusFormat("pgm"); }

TEST(CorpusTest, Pict) {
    const char* banded = "drawn as several bitmaps, composited by the library; the reference holds one band or is blank";
    const char* vectorOnly = "QuickDraw drawing, which the library draws; the reference is blank or of another size";
    const char* otherCodec = "QuickTime data in another codec than JPEG (code 6)";
    const CorpusDeviation widened{"the reference shifts 5-bit components left (31 is 248); the library widens them to full scale",
                                  "tol:7"};
    CheckCorpusFormat("pict", {
        {"corpus/pict/tm_mire16.pict", widened},
        {"corpus/pict/tm_1.pict", banded},
        {"corpus/pict/tm_2.pict", banded},
        {"corpus/pict/tm_9.pict", banded},
        {"corpus/pict/tm_J19.pict", banded},
        {"corpus/pict/tm_demo.pict", banded},
        {"corpus/pict/tm_4.pict", vectorOnly},
        {"corpus/pict/tm_5.pict", vectorOnly},
        {"corpus/pict/tm_6.pict", vectorOnly},
        {"corpus/pict/tm_7.pict", vectorOnly},
        {"corpus/pict/tm_8.pict", vectorOnly},
        {"corpus/pict/tm_EDUC0052.pict", vectorOnly},
        {"corpus/pict/tm_carte.pict", vectorOnly},
        {"corpus/pict/tm_cow.pict", vectorOnly},
        {"corpus/pict/tm_P30946BDC.pict", otherCodec},
        {"corpus/pict/tm_foo.pict", otherCodec},
        {"corpus/pict/tm_u2.pict", otherCodec},
        {"corpus/pict/tm_oom.pict", {"a whole picture of three polygons, ended as it should be; its suite marks it for a "
                                     "reader that ran out of memory on the 1000 dpi resolution in its header"}},
    });
}

TEST(CorpusTest, Jpeg) {
    const CorpusDeviation decodesWhatItHolds{"libjpeg decodes the damaged stream, and so does the library by design"};
    CheckCorpusFormat("jpeg", {
        {"corpus/jpeg/pil_truncated_jpeg.jpg", {"a stream that ends early decodes the rows it holds"}},
        {"corpus/jpeg/pil_truncated_app14.jpg", decodesWhatItHolds},
        {"corpus/jpeg/tm_broken_broken-invalid-adobe-ycc-gray.jpg", decodesWhatItHolds},
        {"corpus/jpeg/tm_eof-sos-segment-bug.jpg", decodesWhatItHolds},
        {"corpus/jpeg/tm_jfif-progressive-invalid-dht.jpg", decodesWhatItHolds},
    });
}

TEST(CorpusTest, Png) {
    // These references come from another tool than the rest of the format's.
    const CorpusDeviation gamma{"the reference applies the file's gamma; these decodes leave colours as stored, as the other references do"};
    const CorpusDeviation rounding{"the reference rounds 16-bit samples; libpng keeps the high byte", "tol:1"};
    CheckCorpusFormat("png", {
        {"corpus/png/lpng_gray-16-linear.png", gamma},
        {"corpus/png/lpng_gray-16-linear-tRNS.png", gamma},
        {"corpus/png/pngs_basi0g16.png", gamma},
        {"corpus/png/pngs_basn0g16.png", gamma},
        {"corpus/png/pngs_g10n0g16.png", gamma},
        {"corpus/png/pngs_g25n0g16.png", gamma},
        {"corpus/png/pngs_oi1n0g16.png", gamma},
        {"corpus/png/pngs_oi2n0g16.png", gamma},
        {"corpus/png/pngs_oi4n0g16.png", gamma},
        {"corpus/png/pngs_oi9n0g16.png", gamma},
        {"corpus/png/pngs_tbwn0g16.png", gamma},
        {"corpus/png/lpng_gray-16.png", rounding},
        {"corpus/png/lpng_gray-16-tRNS.png", rounding},
        {"corpus/png/lpng_gray-16-1.8.png", rounding},
        {"corpus/png/lpng_gray-16-1.8-tRNS.png", rounding},
        {"corpus/png/lpng_gray-16-sRGB.png", rounding},
        {"corpus/png/lpng_gray-16-sRGB-tRNS.png", rounding},
        {"corpus/png/lpng_crash_empty_ancillary_chunks.png", {"libpng drops empty ancillary chunks and decodes the image"}},
    });
}

TEST(CorpusTest, Gif) {
    const CorpusDeviation clipped{"an image reaching outside the screen is clipped to it; the reference enlarges the screen"};
    const CorpusDeviation background{"uncovered screen pixels take the background colour; the reference uses colour 0"};
    CheckCorpusFormat("gif", {
        {"corpus/gif/gts_animated_transparent_loop_frames_out_of_bounds.gif", clipped},
        {"corpus/gif/pygif_image-outside-bg.gif", clipped},
        {"corpus/gif/pygif_image-overlap-bg.gif", clipped},
        {"corpus/gif/pygif_image-inside-bg.gif", background},
        {"corpus/gif/pygif_images-combine.gif", background},
        {"corpus/gif/pygif_plain-text.gif", {"the plain-text extension is skipped like every extension"}},
        {"corpus/gif/pygif_no-data.gif", {"a file without any image is refused, as both reference tools refuse it"}},
    });
}

TEST(CorpusTest, Tiff) {
    const CorpusDeviation rounding{"the library and the reference's tool bring 16-bit samples to 8 bits differently, by rounding or by the high byte", "tol:1"};
    const CorpusDeviation cmyk{"libtiff and the reference's tool round CMYK to RGB differently", "tol:1"};
    const CorpusDeviation accepted{"libtiff reads the file without reporting an error"};
    const CorpusDeviation firstImage{"the first image is intact; the loop lies in the directory chain after it"};
    const CorpusDeviation upright{"the reference shows the page upright; decoded as stored, it keeps its stored orientation"};
    CheckCorpusFormat("tiff", {
        {"corpus/tiff/ltif_rgb-3c-16b.tiff", rounding},
        {"corpus/tiff/pil_tiff_16bit_RGB.tiff", rounding},
        {"corpus/tiff/pil_tiff_16bit_RGBa.tiff",
         {"the reference divides out the associated alpha after cutting the samples to 8 bits, which loses the colours of "
          "faint pixels; the library divides at 16 bits",
          "psnr:30"}},
        {"corpus/tiff/tm_flower-rgb-contig-16.tif", rounding},
        {"corpus/tiff/pil_tiff_strip_cmyk_jpeg.tif", cmyk},
        {"corpus/tiff/pil_tiff_tiled_cmyk_jpeg.tif", cmyk},
        {"corpus/tiff/tm_cmyk_jpeg_no_profile.tif", cmyk},
        {"corpus/tiff/tm_flower-separated-contig-08.tif", cmyk},
        {"corpus/tiff/tm_flower-separated-planar-08.tif", cmyk},
        {"corpus/tiff/ltif_minisblack-2c-8b-alpha.tiff",
         {"the reference brightens the stored greys (127 under full alpha shows as 219) and drops the alpha; the library "
          "keeps the alpha and divides it out of the greys"}},
        {"corpus/tiff/pil_g4_orientation_3.tif", upright},
        {"corpus/tiff/pil_g4_orientation_6.tif", upright},
        {"corpus/tiff/ltif_test_ifd_loop_subifd.tif", firstImage},
        {"corpus/tiff/ltif_test_ifd_loop_to_self.tif", firstImage},
        {"corpus/tiff/pil_tiff_wrong_bits_per_sample.tiff", accepted},
        {"corpus/tiff/pil_tiff_wrong_bits_per_sample_2.tiff", accepted},
        {"corpus/tiff/tm_ccitt-too-many-changes.tif", accepted},
        {"corpus/tiff/tm_incorrect-compression-rle-as-g3.tif", accepted},
        {"corpus/tiff/tm_lzw-buffer-overflow.tif", accepted},
    });
}

TEST(CorpusTest, Eps) {
    CheckCorpusFormat("eps", {
        {"corpus/eps/pil_timeout-d675703545fee17acab56e5fec644c19979175de.eps",
         {"the TIFF preview is intact; only the PostScript around it is damaged"}},
    });
}

namespace {

// Metafile references were drawn by renderers working at different resolutions: ImageMagick
// at its default 72 dots per inch, Inkscape at 96. Each file is played at its reference's
// resolution; in the pass for the other resolution it counts as a deviation.
void CheckMetafileCorpus(const std::string& format, const CorpusDeviations& deviations) {
    for (const int dpi : {72, 96}) {
        SCOPED_TRACE(dpi);
        CorpusDeviations pass = deviations;
        for (const CorpusEntry& e : CorpusEntries(format)) {
            const int referenceDpi = e.refTool == "imagemagick" ? 72 : 96;
            if (!e.reference.empty() && referenceDpi != dpi) pass.emplace(e.relPath, "reference drawn at another resolution");
        }
        SetMetafileDotsPerInch(dpi);
        CheckCorpusFormat(format, pass);
    }
    SetMetafileDotsPerInch(0);
}

}  // namespace

TEST(CorpusTest, Wmf) {
    const char* ownSize =
        "no placeable header: the picture takes the window extent (or 320 x 200), the reference the extent of what is drawn";
    const char* fitted = "the reference fits what is drawn into the picture; the player shows the window the records set";
    const char* fonts = "a formula of small text: the reference sets Times New Roman and Symbol in a sans face";
    CheckMetafileCorpus("wmf", {
        {"corpus/wmf/lwmf_p0000001.wmf", ownSize},
        {"corpus/wmf/lwmf_p0000016.wmf", ownSize},
        {"corpus/wmf/lwmf_text.wmf", ownSize},
        {"corpus/wmf/lwmf_ant.wmf", fitted},
        {"corpus/wmf/lwmf_anim0002.wmf", fitted},
        {"corpus/wmf/lwmf_fjftest.wmf", fitted},
        {"corpus/wmf/lwmf_fulltest.wmf", fitted},
        {"corpus/wmf/pil_drawing.wmf", fitted},
        {"corpus/wmf/tm_test.wmf", fitted},
        {"corpus/wmf/lwmf_formula1.wmf", fonts},
        {"corpus/wmf/lwmf_formula2.wmf", fonts},
        {"corpus/wmf/lwmf_formula3.wmf", fonts},
        {"corpus/wmf/lwmf_formula4.wmf", fonts},
    });
}

TEST(CorpusTest, Emf) {
    const char* box = "the reference renderer drew a plain box instead of the picture";
    CheckMetafileCorpus("emf", {
        {"corpus/emf/e2s_test-007.emf", box},
        {"corpus/emf/e2s_test-008.emf", box},
        {"corpus/emf/e2s_test-009.emf", box},
        {"corpus/emf/e2s_test-010.emf", box},
        {"corpus/emf/e2s_test-012.emf", box},
        // Files from another player's crash collection whose records all hold together:
        {"corpus/emf/e2s_bad_corrupted_2014-12-07-140817.emf", "damaged only after the end of a font's face name"},
        {"corpus/emf/e2s_bad_corrupted_2014-12-07-160856.emf", "the damage turned a world transform into the identity"},
        {"corpus/emf/e2s_bad_corrupted_2014-12-07-163010.emf", "damaged only inside comments, which are skipped"},
        {"corpus/emf/e2s_bad_corrupted_2016-02-02-210039.emf", "every record is well formed"},
        {"corpus/emf/e2s_bad_corrupted_2017-02-12-010400.emf", "every record is well formed"},
    });
}
