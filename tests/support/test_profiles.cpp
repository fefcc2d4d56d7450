#include "test_profiles.h"

std::vector<uint8_t> SavedProfile(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

std::vector<uint8_t> GammaRgbProfile(const cmsCIExyYTRIPLE& primaries, double gamma) {
    const cmsCIExyY white{0.3127, 0.3290, 1};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    std::vector<uint8_t> bytes = SavedProfile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

std::vector<uint8_t> SwappedRedGreenProfile() {
    const cmsCIExyY white{0.3127, 0.3290, 1};
    const cmsCIExyYTRIPLE primaries{{0.30, 0.60, 1}, {0.64, 0.33, 1}, {0.15, 0.06, 1}};
    const cmsFloat64Number parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, parameters);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    std::vector<uint8_t> bytes = SavedProfile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

std::vector<uint8_t> TableProfile(cmsColorSpaceSignature space, cmsProfileClassSignature deviceClass, int channels,
                                  int gridPoints, DeviceToRgb toRgb) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    struct Cargo {
        cmsHTRANSFORM toLab;
        DeviceToRgb toRgb;
    } cargo{cmsCreateTransform(srgb, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, 0), toRgb};
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    cmsStage* grid = cmsStageAllocCLut16bit(nullptr, gridPoints, channels, 3, nullptr);
    cmsStageSampleCLut16bit(
        grid,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void* data) -> cmsInt32Number {
            const auto* cargo = static_cast<const Cargo*>(data);
            cmsUInt16Number rgb[3];
            cargo->toRgb(in, rgb);
            cmsDoTransform(cargo->toLab, rgb, out, 1);
            return 1;
        },
        &cargo, 0);
    cmsDeleteTransform(cargo.toLab);
    cmsPipeline* table = cmsPipelineAlloc(nullptr, channels, 3);
    // The lutAtoBType layout: curves, grid, curves.
    cmsPipelineInsertStage(table, cmsAT_END, cmsStageAllocToneCurves(nullptr, channels, nullptr));
    cmsPipelineInsertStage(table, cmsAT_END, grid);
    cmsPipelineInsertStage(table, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 4.3);
    cmsSetDeviceClass(profile, deviceClass);
    cmsSetColorSpace(profile, space);
    cmsSetPCS(profile, cmsSigLabData);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsWriteTag(profile, cmsSigAToB0Tag, table);
    cmsPipelineFree(table);
    return SavedProfile(profile);
}

std::vector<uint8_t> SwappedInksProfile() {
    return TableProfile(cmsSigCmykData, cmsSigOutputClass, 4, 9, [](const cmsUInt16Number in[], cmsUInt16Number rgb[]) {
        const auto left = [](cmsUInt16Number ink, cmsUInt16Number black) {
            return static_cast<cmsUInt16Number>((65535 - ink) * (65535.0 - black) / 65535 + 0.5);
        };
        rgb[0] = left(in[1], in[3]);
        rgb[1] = left(in[0], in[3]);
        rgb[2] = left(in[2], in[3]);
    });
}
