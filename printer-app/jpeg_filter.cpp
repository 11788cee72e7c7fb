#include "jpeg_filter.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
// clang-format off: jpeglib.h needs FILE and size_t first.
#include <jpeglib.h>
// clang-format on

namespace tpa {

namespace {

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

[[noreturn]] void on_error(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// Square pixels per inch from the JFIF header; 0 when it does not say.
int pixels_per_inch(const jpeg_decompress_struct& d) {
  if (d.X_density != d.Y_density) return -1;
  if (d.density_unit == 1) return d.X_density;
  if (d.density_unit == 2) return d.X_density * 254 / 100;
  return 0;
}

// Decodes the picture and hands it to PAPPL.  Only C objects live here, so
// that libjpeg's error jump leaves nothing behind; `why` is set on failure.
bool print_picture(pappl_job_t* job, pappl_device_t* device, FILE* fp, char* why, size_t whySize) {
  jpeg_decompress_struct d;
  JpegError err;
  pappl_pr_options_t* volatile options = nullptr;
  unsigned char* volatile pixels = nullptr;
  volatile bool ok = false;
  d.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = on_error;
  if (setjmp(err.jump)) {
    char text[JMSG_LENGTH_MAX];
    err.mgr.format_message(reinterpret_cast<j_common_ptr>(&d), text);
    std::snprintf(why, whySize, "The picture could not be read: %s.", text);
  } else {
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, fp);
    jpeg_read_header(&d, TRUE);
    options = papplJobCreatePrintOptions(job, 1, d.num_components > 1);
    d.out_color_space = options->header.cupsNumColors == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_calc_output_dimensions(&d);
    int maxWidth = 0, maxHeight = 0;
    size_t maxSize = papplSystemGetMaxImageSize(papplPrinterGetSystem(papplJobGetPrinter(job)), &maxWidth, &maxHeight);
    size_t bytes = static_cast<size_t>(d.output_width) * d.output_height * static_cast<size_t>(d.output_components);
    int ppi = pixels_per_inch(d);
    if (d.output_width > static_cast<unsigned>(maxWidth) || d.output_height > static_cast<unsigned>(maxHeight) ||
        bytes > maxSize) {
      std::snprintf(why, whySize, "The picture is too large to print (%u x %u pixels).", d.output_width,
                    d.output_height);
    } else if (ppi < 0) {
      std::snprintf(why, whySize, "The picture's pixels are not square; it cannot be printed.");
    } else if ((pixels = static_cast<unsigned char*>(std::malloc(bytes))) == nullptr) {
      std::snprintf(why, whySize, "There is not enough memory for the picture.");
    } else {
      jpeg_start_decompress(&d);
      while (d.output_scanline < d.output_height) {
        JSAMPROW row = pixels + static_cast<size_t>(d.output_scanline) * d.output_width * d.output_components;
        jpeg_read_scanlines(&d, &row, 1);
      }
      jpeg_finish_decompress(&d);
      ok = papplJobFilterImage(job, device, options, pixels, static_cast<int>(d.output_width),
                               static_cast<int>(d.output_height), d.output_components, ppi, true);
    }
  }
  jpeg_destroy_decompress(&d);
  std::free(pixels);
  if (options) papplJobDeletePrintOptions(options);
  return ok;
}

}  // namespace

bool jpegFilter(pappl_job_t* job, pappl_device_t* device, void*) {
  const char* file = papplJobGetFilename(job);
  FILE* fp = file ? std::fopen(file, "rb") : nullptr;
  if (fp == nullptr) return papplJobIsCanceled(job);
  char why[JMSG_LENGTH_MAX + 64] = "";
  bool ok = print_picture(job, device, fp, why, sizeof why);
  std::fclose(fp);
  if (why[0]) {
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, PAPPL_JREASON_NONE);
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why);
    papplJobSetMessage(job, "%s", why);
  }
  return ok;
}

}  // namespace tpa
