// The printer settings of one job, filled from the PPD's marked choices.
//
// Lengths are millimetres (iUnit 0) stored as floats. iOffset and the crop
// members are floats despite their prefix: the trace lines print these names.
#pragma once

// Media kinds of iMediaType, from the zeMediaTracking choices (see the media
// table in PrinterSettings.cpp).
enum MediaType {
    kMediaContinuous = 0, // Continuous, A4Stock, Stock
    kMediaGap = 1,        // Gap: labels with gaps
    kMediaBLine = 2,      // BLine, BLine_Fold: black marks
    kMediaPerforated = 3,
    kMediaRoll = 4,
    kMediaRecording = 5,
    kMediaTattoo = 6,
    kMediaTattooWrinkle = 7, // TattooWrinkle, TattooGuidelines
    kMediaContinuousRoll = 8,
    kMediaUsLetterFold = 9,
    kMediaA4Fold = 10,
    kMediaTransparent = 11, // Transparent labels (Niimbot)
    kMediaBLineGap = 12,    // BLineGap: labels with gaps and black marks (Niimbot)
    kMediaTube = 13,        // Tube: heat-shrink tube (Niimbot)
};

struct tagREGSTRUCT {
    int iSpeed = -1;  // zePrintRate; -1 = printer's own speed
    int iDensity = 8; // Darkness; -1 = printer's own darkness
    int iRotate = 0;  // Rotate: 1 = 180, 2 = 90, 3 = 270 degrees
    bool bMirror = false;
    bool bNegative = false;
    int iScale = 100;         // percent
    bool iDottedline = false; // AutoDotted
    bool bPauseKey = true;
    bool bWaterMark = true;
    bool bSendSetc = true; // SendSetc: the three SETC lines at all
    int iMediaType = 0;    // zeMediaTracking, see the media table
    int iPostAction = 0;   // PostAction: 0 none, 1 tear, 2 cutter, 3 peel, 4 partial cutter
    int iPrinttype = 0;    // MediaMethod: 0 direct thermal, 1 ribbon
    int iCutMode = 0;      // CutMode: 1/2 cut at job end, 3/4 after each page
    int iMoneyBox = 0;     // CashDrawer: 1 drawer pulse before, 2 after printing
    int iAlign = 1;        // MediaAlign: 0 left, 1 centre, 2 right
    int iGrayMethod = 3;   // ImageFilter: <= 0 threshold, n > 0 Dither(n - 1)
    int iThreValue = 175;  // Threshold; low 8 bits used
    int iLiangdu = 0;      // Brightness, then qfBrightness unless "Default"
    int iDuibidu = 0;      // Contrast
    int iGamma = 10;       // ImageEnhance: gamma x 10
    int iOffsetX = 0;      // ImageOffsetX, pixels
    int iOffsetY = 0;      // ImageOffsetY, pixels
    bool bImageCompress = false;
    bool bDoubleColor = false; // PPD attribute DoubleColor
    int iHeadWidth = 0;        // PPD attribute qfHeadWidth: printable dots; 0 = not declared
    int iRedParam = 8;
    int iColorThreshold = 30;
    int iBrightThreshold = 60;
    int iUnit = 0;                // 0 mm, 1 cm, 2 inch, 3 dot
    float fReference[2] = {0, 0}; // AdjustHoriaontal, AdjustVertical
    float fGap = 3.0f;            // zeMediaTracking, then GapHeight
    float fGapOffset = 0;         // zeMediaTracking, then GapOffset
    float iOffset = 0;            // FeedOffset
    float fFeedBefore = 0;
    float fFeedAfter = 0; // FeedOffset
    float iCropTopEdge = 0;
    float iCropBottomEdge = 0;
    float iCropLeftEdge = 0;
    float fCropRightEdge = 0;
    // Receipts (ESC/POS); the defaults are what a PPD without the keywords
    // has always printed.
    bool bReceipt = false; // ReceiptMode: the pages of a job are one receipt
    int iBandRows = 65535; // BandRows: most rows in one raster command
    float fCutterFeed = 0; // CutterFeed: feed before a cut, mm
};
