// The curve data descriptions against the structs that declare them: native offsets and sizes,
// and the sizes their records take in content files.
#include <cstddef>
#include <string>

#include <gtest/gtest.h>

#include "orvane/curve.h"
#include "types/layout_check.h"

using orvane_test::ExpectLayout;
using orvane_test::FieldOffset;

namespace {

// A counted array is one member whose offset is its count field's.
#define CURVE_FIELD(Struct, name, field) \
    FieldOffset {                        \
        name, offsetof(Struct, field)    \
    }

TEST(CurveLayout, HeaderAndFloatFormats) {
    ExpectLayout("header", OrvaneCurveDataHeaderType, 2, sizeof(orvane_curve_data_header),
                 {CURVE_FIELD(orvane_curve_data_header, "Format", Format),
                  CURVE_FIELD(orvane_curve_data_header, "Degree", Degree)});
    using K = orvane_curve_data_da_keyframes32f;
    ExpectLayout(
        "DaKeyframes32f", OrvaneCurveDataDaKeyframes32fType, 12, sizeof(K),
        {CURVE_FIELD(K, "CurveDataHeader_DaKeyframes32f", CurveDataHeader),
         CURVE_FIELD(K, "Dimension", Dimension), CURVE_FIELD(K, "Controls", ControlCount)});
    using F = orvane_curve_data_da_k32f_c32f;
    ExpectLayout("DaK32fC32f", OrvaneCurveDataDaK32fC32fType, 20, sizeof(F),
                 {CURVE_FIELD(F, "CurveDataHeader_DaK32fC32f", CurveDataHeader),
                  CURVE_FIELD(F, "Padding", Padding), CURVE_FIELD(F, "Knots", KnotCount),
                  CURVE_FIELD(F, "Controls", ControlCount)});
    using I = orvane_curve_data_da_identity;
    ExpectLayout("DaIdentity", OrvaneCurveDataDaIdentityType, 4, sizeof(I),
                 {CURVE_FIELD(I, "CurveDataHeader_DaIdentity", CurveDataHeader),
                  CURVE_FIELD(I, "Dimension", Dimension)});
    using C = orvane_curve_data_da_constant32f;
    ExpectLayout("DaConstant32f", OrvaneCurveDataDaConstant32fType, 12, sizeof(C),
                 {CURVE_FIELD(C, "CurveDataHeader_DaConstant32f", CurveDataHeader),
                  CURVE_FIELD(C, "Padding", Padding), CURVE_FIELD(C, "Controls", ControlCount)});
    using C3 = orvane_curve_data_d3_constant32f;
    ExpectLayout("D3Constant32f", OrvaneCurveDataD3Constant32fType, 16, sizeof(C3),
                 {CURVE_FIELD(C3, "CurveDataHeader_D3Constant32f", CurveDataHeader),
                  CURVE_FIELD(C3, "Padding", Padding), CURVE_FIELD(C3, "Controls", Controls)});
    using C4 = orvane_curve_data_d4_constant32f;
    ExpectLayout("D4Constant32f", OrvaneCurveDataD4Constant32fType, 20, sizeof(C4),
                 {CURVE_FIELD(C4, "CurveDataHeader_D4Constant32f", CurveDataHeader),
                  CURVE_FIELD(C4, "Padding", Padding), CURVE_FIELD(C4, "Controls", Controls)});
}

template <typename R>
void ExpectDaQuantised(const char* name, const orvane_data_type_definition* type) {
    ExpectLayout(name, type, 20, sizeof(R),
                 {CURVE_FIELD(R, (std::string("CurveDataHeader_") + name).c_str(), CurveDataHeader),
                  CURVE_FIELD(R, "OneOverKnotScaleTrunc", OneOverKnotScaleTrunc),
                  CURVE_FIELD(R, "ControlScaleOffsets", ControlScaleOffsetCount),
                  CURVE_FIELD(R, "KnotsControls", KnotControlCount)});
}

template <typename R>
void ExpectQuaternion(const char* name, const orvane_data_type_definition* type) {
    ExpectLayout(name, type, 16, sizeof(R),
                 {CURVE_FIELD(R, (std::string("CurveDataHeader_") + name).c_str(), CurveDataHeader),
                  CURVE_FIELD(R, "ScaleOffsetTableEntries", ScaleOffsetTableEntries),
                  CURVE_FIELD(R, "OneOverKnotScale", OneOverKnotScale),
                  CURVE_FIELD(R, "KnotsControls", KnotControlCount)});
}

template <typename R>
void ExpectThreeScales(const char* name, const orvane_data_type_definition* type) {
    ExpectLayout(name, type, 36, sizeof(R),
                 {CURVE_FIELD(R, (std::string("CurveDataHeader_") + name).c_str(), CurveDataHeader),
                  CURVE_FIELD(R, "OneOverKnotScaleTrunc", OneOverKnotScaleTrunc),
                  CURVE_FIELD(R, "ControlScales", ControlScales),
                  CURVE_FIELD(R, "ControlOffsets", ControlOffsets),
                  CURVE_FIELD(R, "KnotsControls", KnotControlCount)});
}

template <typename R>
void ExpectOneScale(const char* name, const orvane_data_type_definition* type) {
    ExpectLayout(name, type, 20, sizeof(R),
                 {CURVE_FIELD(R, (std::string("CurveDataHeader_") + name).c_str(), CurveDataHeader),
                  CURVE_FIELD(R, "OneOverKnotScaleTrunc", OneOverKnotScaleTrunc),
                  CURVE_FIELD(R, "ControlScale", ControlScale),
                  CURVE_FIELD(R, "ControlOffset", ControlOffset),
                  CURVE_FIELD(R, "KnotsControls", KnotControlCount)});
}

TEST(CurveLayout, QuantisedFormats) {
    ExpectDaQuantised<orvane_curve_data_da_k16u_c16u>("DaK16uC16u", OrvaneCurveDataDaK16uC16uType);
    ExpectDaQuantised<orvane_curve_data_da_k8u_c8u>("DaK8uC8u", OrvaneCurveDataDaK8uC8uType);
    ExpectQuaternion<orvane_curve_data_d4n_k16u_c15u>("D4nK16uC15u",
                                                      OrvaneCurveDataD4nK16uC15uType);
    ExpectQuaternion<orvane_curve_data_d4n_k8u_c7u>("D4nK8uC7u", OrvaneCurveDataD4nK8uC7uType);
    ExpectThreeScales<orvane_curve_data_d3_k16u_c16u>("D3K16uC16u", OrvaneCurveDataD3K16uC16uType);
    ExpectThreeScales<orvane_curve_data_d3_k8u_c8u>("D3K8uC8u", OrvaneCurveDataD3K8uC8uType);
    ExpectOneScale<orvane_curve_data_d9i1_k16u_c16u>("D9I1K16uC16u",
                                                     OrvaneCurveDataD9I1K16uC16uType);
    ExpectThreeScales<orvane_curve_data_d9i3_k16u_c16u>("D9I3K16uC16u",
                                                        OrvaneCurveDataD9I3K16uC16uType);
    ExpectOneScale<orvane_curve_data_d9i1_k8u_c8u>("D9I1K8uC8u", OrvaneCurveDataD9I1K8uC8uType);
    ExpectThreeScales<orvane_curve_data_d9i3_k8u_c8u>("D9I3K8uC8u", OrvaneCurveDataD9I3K8uC8uType);
}

// Packed records: read the pointer by value rather than binding a reference to it.
orvane_data_type_definition* ReferenceOf(const orvane_data_type_definition* type, int member) {
    return type[member].ReferenceType;
}

TEST(CurveLayout, ArraysUseTheStandardElementTypes) {
    EXPECT_EQ(ReferenceOf(OrvaneCurveDataDaK32fC32fType, 2), OrvaneReal32Type);
    EXPECT_EQ(ReferenceOf(OrvaneCurveDataDaK32fC32fType, 3), OrvaneReal32Type);
    EXPECT_EQ(ReferenceOf(OrvaneCurveDataDaK16uC16uType, 3), OrvaneUInt16Type);
    EXPECT_EQ(ReferenceOf(OrvaneCurveDataDaK8uC8uType, 3), OrvaneUInt8Type);
    EXPECT_EQ(ReferenceOf(OrvaneCurveDataD4nK8uC7uType, 0), OrvaneCurveDataHeaderType);
}

}  // namespace
