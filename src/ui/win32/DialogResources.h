/* The settings dialogs' resources in the Windows build: template and string ids, and the ids of
 * the controls the templates hold. The resource compiler and the C++ view both read this file,
 * so it holds preprocessor definitions only. The control ids are the dialog models' own; the
 * view checks at compile time that both agree. */
#ifndef LUMORA_UI_WIN32_DIALOG_RESOURCES_H
#define LUMORA_UI_WIN32_DIALOG_RESOURCES_H

/* Top-level dialogs: a tab control over the pages and the buttons. */
#define IDD_CAMERA_SHEET 100
#define IDD_IMAGE_SHEET 101
#define IDD_ANALOG_SHEET 102
/* Pages, child dialogs placed inside the tab control. */
#define IDD_PAGE_STREAM_FORMAT 110
#define IDD_PAGE_IMAGE_FILTER 111
#define IDD_PAGE_GRAY_FILTER 112
#define IDD_PAGE_ANALOG_COLOR 113 /* the colour camera's gains */
#define IDD_PAGE_ANALOG_MONO 114  /* cooling and black level instead */

/* Page i's window carries the id LUMORA_PAGE_ID + i inside its top-level dialog. */
#define LUMORA_PAGE_ID 4000
/* The caption beside control `id` is the static LUMORA_CAPTION_ID + id; it is hidden and
 * disabled with its control. */
#define LUMORA_CAPTION_ID 20000

/* Buttons of the top-level dialogs (IDOK and IDCANCEL as the system has them). */
#define IDC_DEFAULT 3
#define IDC_APPLY 1002
#define IDC_TAB 1001

/* Stream Format page. */
#define IDC_COLOR_MODE 1009
#define IDC_CAPTURE_SIZE 1010
#define IDC_SUB_SAMPLE 1012
#define IDC_CLOCK 1014
#define IDC_H_TOTAL 1039
#define IDC_V_TOTAL 1040
#define IDC_H_EFFECTIVE 1041
#define IDC_V_EFFECTIVE 1042
#define IDC_H_START 1043
#define IDC_V_START 1044
#define IDC_WAIT_TIME 1045
#define IDC_WINDOW_GROUP 1100
#define IDC_CLOCK_NOTE 1101

/* Image Filter page: trackbar, edit and up-down of each slider. */
#define IDC_BRIGHTNESS 2001
#define IDC_BRIGHTNESS_EDIT 2002
#define IDC_BRIGHTNESS_SPIN 2004
#define IDC_CONTRAST 2011
#define IDC_CONTRAST_EDIT 2012
#define IDC_CONTRAST_SPIN 2014
#define IDC_HUE 2021
#define IDC_HUE_EDIT 2022
#define IDC_HUE_SPIN 2024
#define IDC_SATURATION 2031
#define IDC_SATURATION_EDIT 2032
#define IDC_SATURATION_SPIN 2034
#define IDC_SHARPNESS 2041
#define IDC_SHARPNESS_EDIT 2042
#define IDC_SHARPNESS_SPIN 2044
#define IDC_BAYER_GAIN_R 2051
#define IDC_BAYER_GAIN_R_EDIT 2052
#define IDC_BAYER_GAIN_R_SPIN 2054
#define IDC_BAYER_GAIN_G 2061
#define IDC_BAYER_GAIN_G_EDIT 2062
#define IDC_BAYER_GAIN_G_SPIN 2063
#define IDC_BAYER_GAIN_B 2071
#define IDC_BAYER_GAIN_B_EDIT 2072
#define IDC_BAYER_GAIN_B_SPIN 2073
#define IDC_GAMMA 2081
#define IDC_GAMMA_EDIT 2082
#define IDC_GAMMA_SPIN 2084
#define IDC_ONCE 2074
#define IDC_ALL_FRAMES 1035
#define IDC_BAYER_MODE_0 1030
#define IDC_BAYER_MODE_1 1031
#define IDC_BAYER_MODE_2 1032
#define IDC_BAYER_MODE_3 1033
#define IDC_WHITE_BALANCE_GROUP 2202
#define IDC_BAYER_GROUP 2204

/* Gray Filter page: gains 2100..2111 and offsets 2112..2123, three ids a slider. */
#define IDC_GRAY_GAIN_R 2100
#define IDC_GRAY_OFFSET_R 2112
#define IDC_GRAY_MODE_BAYER 1046
#define IDC_GRAY_MODE_CONVERT 1047
#define IDC_GRAY_MODE_GRAYSCALE 1048
#define IDC_GAIN_GROUP 2200
#define IDC_OFFSET_GROUP 2201
#define IDC_AUTO_GAIN_GROUP 2203
#define IDC_GRAY_MODE_GROUP 2205

/* Analog Gain page. */
#define IDC_GLOBAL_GAIN 1013
#define IDC_GLOBAL_GAIN_EDIT 1015
#define IDC_GLOBAL_GAIN_SPIN 1038
#define IDC_GAIN_G1 1018
#define IDC_GAIN_G1_EDIT 1019
#define IDC_GAIN_G1_SPIN 1039
#define IDC_GAIN_R 1020
#define IDC_GAIN_R_EDIT 1021
#define IDC_GAIN_R_SPIN 1040
#define IDC_GAIN_B 1022
#define IDC_GAIN_B_EDIT 1023
#define IDC_GAIN_B_SPIN 1041
#define IDC_GAIN_G2 1024
#define IDC_GAIN_G2_EDIT 1025
#define IDC_GAIN_G2_SPIN 1042
#define IDC_EXPOSURE 1026
#define IDC_EXPOSURE_EDIT 1027
#define IDC_EXPOSURE_SPIN 1043
#define IDC_EXPOSURE_LABEL 1049
#define IDC_EXPOSURE_EX 2131
#define IDC_EXPOSURE_UNIT 2132
#define IDC_EXPOSURE_RANGE 2133
#define IDC_AUTO_IRIS_GROUP 1200
#define IDC_AUTO_IRIS_GAIN 1036
#define IDC_AUTO_IRIS_EXPOSURE 1037
#define IDC_MIRROR_V 1028
#define IDC_MIRROR_H 1029
#define IDC_BLACK_LEVEL 2128
#define IDC_BLACK_LEVEL_EDIT 2129
#define IDC_BLACK_LEVEL_SPIN 2130
#define IDC_PELTIER 2124
#define IDC_SHORT_EXPOSURE 2125
#define IDC_GAIN_MODE 2126

/* Texts the view puts into controls at run time (tab captions, combo items, notes), in the
 * language of the templates. The view knows each by its English source text. */
#define IDS_STREAM_FORMAT 5000
#define IDS_IMAGE_FILTER 5001
#define IDS_GRAY_FILTER 5002
#define IDS_ANALOG_GAIN 5003
#define IDS_MONOCHROME_8 5004
#define IDS_MONOCHROME_12 5005
#define IDS_COLOR_24 5006
#define IDS_COLOR_32 5007
#define IDS_COLOR_48 5008
#define IDS_COLOR_64 5009
#define IDS_CUSTOM 5010
#define IDS_SUB_SAMPLE_1 5011
#define IDS_SUB_SAMPLE_2 5012
#define IDS_CLOCK_NORMAL 5013
#define IDS_CLOCK_HALF 5014
#define IDS_CLOCK_HIGH 5015
#define IDS_CLOCK_NOTE 5016
#define IDS_HIGH_GAIN 5017
#define IDS_LOW_GAIN 5018
#define IDS_UNIT_SECONDS 5019

#endif
