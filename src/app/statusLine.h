// The status line at the bottom of the window. It tells how the last Quick
// discovery or Find new devices ended ("Quick discovery: 3 devices found."),
// where a box to click away would only hold up the work; the report of
// Discovery stays a box. The discovery worker posts its report as a
// message; the window offers every message here before it opens a box.
#pragma once

#include "device/app_discovery.h"

typedef struct _GtkWidget GtkWidget;

enum { STATUS_LINE_TEXT_SIZE = 128 };

// Builds the line on the first call and returns it.
GtkWidget* statusLine_get();
// A discovery in `mode` starts: the line is cleared, and the report the
// worker posts at its end belongs on it for Quick discovery and Find new
// devices.
void statusLine_discoveryStarted(DiscoveryMode mode);
// Offered every message (type BRIDGE_INFO or BRIDGE_ERROR) before it is
// shown in a box: true when it is the report the line waits for, which it
// now shows instead: the information "%d devices found." after Quick
// discovery, "%d new devices found." after Find new devices, and "Stopped:
// %d devices found." after either was stopped. Anything else
// (an error, another mode's report, another text) is left to its box.
bool statusLine_take(int type, const char* text);
const char* statusLine_text();
