#include "scanstate.h"

ScanSetup newscansetup;
ScanDuration scanDur;
ScanTempl scanTemplate[kMaxTemplates];
int templatecount = 0;
int templateload = 0;
FilterMod filterModule[kMaxFilterModules];
int filtercount = 0;
FilterMod filterTray[kTrayPositions];
int filtertraystatus = 0;
SystemParams sysparams;

int ScannerType = kModelKIREL5;
QString image_dir;
QString image_name;
QString image_comment;
int scan_HVch1 = 0;
int scan_HVch2 = 0;

BYTE laserCh1[6] = {};
BYTE laserCh2[6] = {};
int laserCh1index = 0;
int laserCh2index = 0;
QString laserCh1wavelength[6];
int LD685status = 0;
int LD685manctrl = 0;
int LD685count = 0;
BYTE scanparams[kScanParamsSize] = {};

QPointF scanarea[kTileColumns][kTileRows];
scantile *item[kTileColumns][kTileRows] = {};
int tileflag[kTileColumns][kTileRows] = {};
int tiletotal = 0;
QPointF scancornerL;
QPointF scancornerR;
QPointF scancornerC;
int scantileselX = 0;
int scantileselY = 0;

QIcon iconCh1Pos[kTrayPositions];
QIcon iconCh2Pos[kTrayPositions];
QString iconnameCh1Pos[kTrayPositions];
QString iconnameCh2Pos[kTrayPositions];

int KIREL5connectStatus = -1;
int scanpassnumber = -1;
int logeventnumber = 0;
BYTE scannerstat[100] = {};
char vendorID[10] = {};
char scannerID[20] = {};
BYTE scannerconfig[100] = {};
BYTE LDconfig[3] = {};
int lasermodule[6] = {};
int laserboxindex = 0;
int SCSIboardtempcol = 0;
int scantimercount = 0;
float LDboardtemp = 0;
float LD685monit = 0;
float SCSIboardtemp = 0;

unsigned char imagedata[kImageBufferSize];
unsigned char calimagedata[kImageBufferSize];
unsigned char scanimage[kPreviewBufferSize];
float shadingdata[kShadingColumns][kShadingRows];
float histval[kHistogramBins];

QFile kirelscanfile_img;
QFile kirelscanfile_raw;
QFile kirelscanfile_inf;
QDataStream IMGdatastream;
QDataStream RAWdatastream;
QDataStream INFdatastream;
qint32 ScanFileSize = 0;

qint64 scanstart_epochsecs = 0;
qint64 scancurrent_epochsecs = 0;
int scanelapsed_secs = 0;
int scanremain_secs = 0;
int scanwriteerror = 0;
int linestep = 0;
int widthstep = 0;

QDataStream LOGdatastream;
QFile kirelscanfile_log;
QString QStatusString[kStatusLogLines];
QString QNewStatusString;
