// Identifiers of the setting dialogs' templates and controls, shared by the resource script and
// the dialog code.
#pragma once

// Templates: Japanese and English forms of each dialog and page.
#define IDD_CAMERA_JA 101
#define IDD_CAMERA_EN 106
#define IDD_IMAGE_JA 102
#define IDD_IMAGE_EN 108
#define IDD_IMAGE_PAGE1_JA 103
#define IDD_IMAGE_PAGE1_EN 107
#define IDD_IMAGE_PAGE2_JA 113
#define IDD_IMAGE_PAGE2_EN 112
#define IDD_ANALOG_JA 104
#define IDD_ANALOG_EN 111
#define IDD_ANALOG_PAGE_JA 105
#define IDD_ANALOG_PAGE_EN 110

// Outer dialogs.
#define IDC_TAB 1001
#define IDC_APPLY 1002
#define IDC_DEFAULT 3

// Camera settings.
#define IDC_COLOR 1009
#define IDC_SIZES 1010
#define IDC_SUBSAMPLE 1012
#define IDC_CLOCK 1014
#define IDC_TOTAL_H 1039
#define IDC_TOTAL_V 1040
#define IDC_EFFECTIVE_H 1041
#define IDC_EFFECTIVE_V 1042
#define IDC_START_H 1043
#define IDC_START_V 1044
#define IDC_WAIT_TIME 1045
#define IDC_SIZE_FULL 1050  // note shown while "Custom" finds no room in a full size table

// Analog page: trackbar, edit and up-down of each row.
#define IDC_GAIN_TB 1013
#define IDC_GAIN_ED 1015
#define IDC_GAIN_UD 1038
#define IDC_G1_TB 1018
#define IDC_G1_ED 1019
#define IDC_G1_UD 1039
#define IDC_R_TB 1020
#define IDC_R_ED 1021
#define IDC_R_UD 1040
#define IDC_B_TB 1022
#define IDC_B_ED 1023
#define IDC_B_UD 1041
#define IDC_G2_TB 1024
#define IDC_G2_ED 1025
#define IDC_G2_UD 1042
#define IDC_EXPOSURE_TB 1026
#define IDC_EXPOSURE_ED 1027
#define IDC_EXPOSURE_UD 1043
#define IDC_MIRROR_V 1028
#define IDC_MIRROR_H 1029
#define IDC_IRIS_GAIN 1036
#define IDC_IRIS_EXPOSURE 1037
#define IDC_EXPOSURE_TIME 1049

// Image filter pages.
#define IDC_BRIGHTNESS_TB 2001
#define IDC_BRIGHTNESS_ED 2002
#define IDC_BRIGHTNESS_UD 2004
#define IDC_CONTRAST_TB 2011
#define IDC_CONTRAST_ED 2012
#define IDC_CONTRAST_UD 2014
#define IDC_HUE_TB 2021
#define IDC_HUE_ED 2022
#define IDC_HUE_UD 2024
#define IDC_SATURATION_TB 2031
#define IDC_SATURATION_ED 2032
#define IDC_SATURATION_UD 2034
#define IDC_SHARPNESS_TB 2041
#define IDC_SHARPNESS_ED 2042
#define IDC_SHARPNESS_UD 2044
#define IDC_RGAIN_TB 2051
#define IDC_RGAIN_ED 2052
#define IDC_RGAIN_UD 2054
#define IDC_GGAIN_TB 2061
#define IDC_GGAIN_ED 2062
#define IDC_GGAIN_UD 2063
#define IDC_BGAIN_TB 2071
#define IDC_BGAIN_ED 2072
#define IDC_BGAIN_UD 2073
#define IDC_GAMMA_TB 2081
#define IDC_GAMMA_ED 2082
#define IDC_GAMMA_UD 2084
#define IDC_BALANCE_ONCE 2074
#define IDC_BALANCE_ALL 1035
#define IDC_BAYER0 1030
#define IDC_BAYER1 1031
#define IDC_BAYER2 1032
#define IDC_BAYER3 1033
#define IDC_GRAY_MODE0 1046
#define IDC_GRAY_MODE1 1047
#define IDC_GRAY_MODE2 1048
// Gray gain and offset rows: 2100 + 3 * row for the trackbar, +1 edit, +2 up-down.
#define IDC_GRAY_FIRST 2100
