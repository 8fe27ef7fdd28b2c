#include "app/icon.h"

#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

// Where the build installs the data: absolute, and relative to the folder
// the programs are installed into, so that a package built for another
// prefix (e.g. /usr) still finds its data beside its programs.
#ifndef TERN_DATADIR
#define TERN_DATADIR "/usr/local/share/tern"
#endif
#ifndef TERN_DATADIR_FROM_BINDIR
#define TERN_DATADIR_FROM_BINDIR "../share/tern"
#endif

namespace {

const char kIconName[] = "zul.png";

// Loads quietly: the fallbacks only matter when they work.
GdkPixbuf* tryLoad(const char* path) { return gdk_pixbuf_new_from_file(path, NULL); }

// The folder of the running program, or empty.
bool programFolder(char* out, size_t cap) {
  ssize_t n = readlink("/proc/self/exe", out, cap - 1);
  if (n <= 0) return false;
  out[n] = 0;
  char* slash = strrchr(out, '/');
  if (!slash) return false;
  *slash = 0;
  return true;
}

}  // namespace

GdkPixbuf* create_pixbuf(const char* path) {
  GError* error = NULL;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path, &error);
  if (!pixbuf) {
    fprintf(stderr, "%s\n", error ? error->message : path);
    if (error) g_error_free(error);
  }
  return pixbuf;
}

GdkPixbuf* icon_load() {
  GdkPixbuf* icon = create_pixbuf(kIconName);
  if (icon) return icon;
  char folder[ICON_PATH_SIZE];
  char path[ICON_PATH_SIZE + sizeof TERN_DATADIR_FROM_BINDIR + sizeof kIconName + 2];
  if (programFolder(folder, sizeof folder)) {
    // Beside the program: a run from the build folder.
    snprintf(path, sizeof path, "%s/%s", folder, kIconName);
    if ((icon = tryLoad(path))) return icon;
    // The data folder of the installation the program belongs to.
    snprintf(path, sizeof path, "%s/%s/%s", folder, TERN_DATADIR_FROM_BINDIR, kIconName);
    if ((icon = tryLoad(path))) return icon;
  }
  snprintf(path, sizeof path, "%s/%s", TERN_DATADIR, kIconName);
  return tryLoad(path);
}
