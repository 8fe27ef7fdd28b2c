#include "app/icon.h"

#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#ifndef TERN_DATADIR
#define TERN_DATADIR "/usr/local/share/tern"
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
  char path[ICON_PATH_SIZE + sizeof kIconName + 1];
  if (programFolder(folder, sizeof folder)) {
    snprintf(path, sizeof path, "%s/%s", folder, kIconName);
    if ((icon = tryLoad(path))) return icon;
  }
  snprintf(path, sizeof path, "%s/%s", TERN_DATADIR, kIconName);
  return tryLoad(path);
}
