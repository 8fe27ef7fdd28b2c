// The window icon.
#pragma once

typedef struct _GdkPixbuf GdkPixbuf;

enum { ICON_PATH_SIZE = 4096 };

// Loads an image file; on failure prints the loader's error on standard
// error and returns null.
GdkPixbuf* create_pixbuf(const char* path);
// "zul.png" from the working directory, else the one installed beside the
// program or in the data folder. Null when none loads.
GdkPixbuf* icon_load();
