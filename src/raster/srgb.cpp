#include "raster/srgb.h"

#include <lcms2.h>

namespace {

// lcms2 reports damaged profiles here; the caller learns of them by the result.
void IgnoreLcmsError(cmsContext, cmsUInt32Number, const char*) {}

}  // namespace

bool BitmapConvertToSrgb(TMemBitmap& bitmap, const uint8_t* icc, size_t size) {
  if (icc == nullptr || size < 132 || size > (size_t{1} << 26)) return false;
  if (bitmap.pixels == nullptr || bitmap.header.biBitCount != 24) return false;
  // A context of its own per conversion: nothing shared between threads.
  cmsContext context = cmsCreateContext(nullptr, nullptr);
  if (context == nullptr) return false;
  cmsSetLogErrorHandlerTHR(context, IgnoreLcmsError);
  bool converted = false;
  cmsHPROFILE source = cmsOpenProfileFromMemTHR(context, icc, static_cast<cmsUInt32Number>(size));
  cmsHPROFILE srgb = cmsCreate_sRGBProfileTHR(context);
  if (source != nullptr && srgb != nullptr && cmsGetColorSpace(source) == cmsSigRgbData) {
    cmsHTRANSFORM transform =
        cmsCreateTransformTHR(context, source, TYPE_BGR_8, srgb, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    if (transform != nullptr) {
      for (int32_t y = 0; y < bitmap.height; ++y) {
        uint8_t* row = BitmapPixel(bitmap, 0, y);
        cmsDoTransform(transform, row, row, static_cast<cmsUInt32Number>(bitmap.width));
      }
      cmsDeleteTransform(transform);
      converted = true;
    }
  }
  if (source != nullptr) cmsCloseProfile(source);
  if (srgb != nullptr) cmsCloseProfile(srgb);
  cmsDeleteContext(context);
  return converted;
}
