/* Resource and control ids of both windows, written once: the Qt views, the
 * Win32 views, their tests and fwupgraderVelmora.rc include this file. Plain
 * #defines only, so that the resource compiler (windres) reads it too. The main
 * window's controls keep dialog template 102's ids; the values never change (the
 * Win32 test driver finds controls by them). */
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#ifndef IDOK
#define IDOK 1
#endif

#define IDM_ABOUTBOX 0x0010 /* the About entry of the window's menu */
#define IDD_ABOUTBOX 100
#define IDD_FWUPGRADERVELMORA_DIALOG 102
#define IDM_BENCH 0x0020 /* the window menu's "Bench..." entry */
#define IDD_BENCH_DIALOG 103
#define IDR_MAINFRAME 128      /* the application icon */
#define IDC_ABOUT_VERSION 1040 /* the About box's second line: the build's version */
#define IDC_ABOUT_NAME 1041    /* the About box's first line: the program's name */

/* The main window (template 102), then the auto mode's two controls. */
#define IDC_UPLOAD 1000        /* push button "UPLOAD" */
#define IDC_AREA 1001          /* flash area combo box, hidden */
#define IDC_PORT 1002          /* port combo box */
#define IDC_LOAD 1003          /* push button "Load Binary File" */
#define IDC_FILE_INFO 1004     /* file description box, drop target */
#define IDC_FILE_PATH 1005     /* file path box, drop target */
#define IDC_AREA_TEXT 1006     /* area box, hidden */
#define IDC_LOG 1007           /* the log */
#define IDC_PROGRESS 1008      /* download progress */
#define IDC_DEVICE_STATE 1011  /* "no device", boot or firmware version */
#define IDC_CONNECT 1014       /* "Connect" / "disconnect" */
#define IDC_STATUS 1016        /* status line */
#define IDC_AUTO_MODE 1017     /* "auto mode" / "cancel auto mode" */
#define IDC_SERIAL 1034        /* serial number */
#define IDC_AUTO_PROGRESS 1039 /* auto mode's search bar / marquee */

/* The bench window (template 103). */
#define IDC_BENCH_IMAGE_NAME 1100 /* the image's file name */
#define IDC_BENCH_IMAGE_SIZE 1101 /* its size */
#define IDC_BENCH_IMAGE_DATE 1102 /* its date */
#define IDC_BENCH_IMAGE_SHA 1103  /* its SHA-256, shortened */
#define IDC_BENCH_RECORD 1104     /* the record store, password hidden */
#define IDC_BENCH_STATION 1105    /* the station's name */
#define IDC_BENCH_LOAD 1106       /* push button "Load Binary File" */
#define IDC_BENCH_START 1107      /* "&Start" */
#define IDC_BENCH_STOP 1108       /* "S&top": no new reader, those in flight finish */
#define IDC_BENCH_STOP_NOW 1109   /* "Stop &now": readers stop at their next packet boundary */
#define IDC_BENCH_TABLE 1110      /* list view, one row per slot */
#define IDC_BENCH_LOG 1111        /* the log */
#define IDC_BENCH_PASSED 1112     /* counters: units passed */
#define IDC_BENCH_FAILED 1113     /* units failed */
#define IDC_BENCH_YIELD 1114      /* first-pass yield */
#define IDC_BENCH_UNITS_PER_HOUR 1115
#define IDC_BENCH_ELAPSED 1116
#define IDC_BENCH_STATUS 1117 /* "idle", "running", "stopping", "stopped" */
/* The labels before the bench's fields; their texts come from the window model. */
#define IDC_BENCH_LABEL_IMAGE 1118
#define IDC_BENCH_LABEL_RECORD 1119
#define IDC_BENCH_LABEL_STATION 1120
#define IDC_BENCH_LABEL_PASSED 1121
#define IDC_BENCH_LABEL_FAILED 1122
#define IDC_BENCH_LABEL_YIELD 1123
#define IDC_BENCH_LABEL_UNITS_PER_HOUR 1124
#define IDC_BENCH_LABEL_ELAPSED 1125
#define IDC_BENCH_BOARD 1126          /* the board: one tile per slot, over the table's place */
#define IDC_BENCH_RESET_COUNTERS 1127 /* "&Reset counters": the counters from zero */
/* The bench window's menu entries (Win32 system menu). */
#define IDM_BENCH_BOARD 0x0030   /* board or table (F2) */
#define IDM_BENCH_LARGER 0x0040  /* Ctrl++ */
#define IDM_BENCH_SMALLER 0x0050 /* Ctrl+- */
#define IDM_BENCH_NORMAL 0x0060  /* Ctrl+0 */
#define IDM_BENCH_SOUND 0x0070   /* sound on failure */
