/* Identifiers shared by the resource script and the Windows front end. */
#pragma once

#define QUORVEL_WEB_ADDRESS "https://quorvel.example.org"
#define QUORVEL_DIALOG_CAPTION "Quorvel v1.01 - " QUORVEL_WEB_ADDRESS

/* Dialog template and icon group. */
#define IDD_MAIN 102
#define IDI_QUORVEL 505

/* Controls of the main dialog; "Quit" is the system's cancel command, 2. */
#define IDC_OPEN 3
#define IDC_SAVE 202
#define IDC_PREVIEW 203
#define IDC_APPLY 204
#define IDC_THUMBNAIL 402
#define IDC_INVERT_RED 3016
#define IDC_INVERT_GREEN 3017
#define IDC_INVERT_BLUE 3018
#define IDC_RENORMALIZE 3020
#define IDC_SCALE 3021
