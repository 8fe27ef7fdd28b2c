#include "curve/curve_view.h"

#include <cairo.h>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "curve/curve.h"
#include "curve/curve_damage.h"
#include "curve/curve_edit.h"

namespace {

// Event kinds the view's handlers are connected with.
enum { KIND_CONFIGURE = 0, KIND_EXPOSE = 1 };

const int kDefaultApprox = 5;
const int kMaxApprox = 20;

GtkWidget* da = nullptr;
GdkCursor* crossCursor = nullptr;
GdkWindow* rootWindow = nullptr;
GtkWidget* comboApprox = nullptr;
GtkWidget* cLabel = nullptr;
bool bussy = false;

// The picture, kept between repaints at the view's size. A repaint redoes
// only the tiles the curve and the markers ink now or inked last time
// (curve_damage); elsewhere the picture is the background with the axes
// over it, which stay the same until the size does.
GdkPixmap* front = nullptr;          // the picture expose copies to the screen
cairo_surface_t* axes = nullptr;     // axes, grid and labels on transparent
cairo_surface_t* layers = nullptr;   // the axes with the curve and markers over them
guint32 backgroundPixel = 0;         // the background the picture was made on
bool haveBackground = false;

// Half the line widths of the curve and of the markers' outline
// (a marker is a closed path around its point, one pixel each way).
const double kCurveHalfWidth = 1.25;
const double kMarkerReach = 1 + 1.5;

void releasePicture() {
  if (front) g_object_unref(front);
  front = nullptr;
  if (axes) cairo_surface_destroy(axes);
  if (layers) cairo_surface_destroy(layers);
  axes = layers = nullptr;
  haveBackground = false;
}

// A pixmap of the view's size filled with the style's background.
GdkPixmap* backgroundPixmap() {
  const int w = curve_getWidth(), h = curve_getHeight();
  GdkPixmap* p = gdk_pixmap_new(da->window, w, h, -1);
  gdk_draw_rectangle(p, da->style->bg_gc[GTK_WIDGET_STATE(da)], TRUE, 0, 0, w, h);
  return p;
}

// The layers at the view's size: the axes drawn once on transparent, and
// the working copy the curve is drawn on.
void makeLayers() {
  const int w = curve_getWidth(), h = curve_getHeight();
  axes = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(axes);
  paintAxis(cr);
  cairo_destroy(cr);
  cairo_surface_flush(axes);
  layers = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_surface_flush(layers);
  memcpy(cairo_image_surface_get_data(layers), cairo_image_surface_get_data(axes),
         (size_t)cairo_image_surface_get_stride(axes) * h);
  cairo_surface_mark_dirty(layers);
  damage_setSize(w, h);
}

// Marks the tiles that paintCurve and paintPointer will ink.
void markStrokes() {
  for (int i = 1; i < CURVE_POINTS; i++)
    damage_markLine(get_pointX(i - 1), get_pointY(cData[i - 1]), get_pointX(i), get_pointY(cData[i]),
                    kCurveHalfWidth);
  const double xVect = curve_getXVect();
  const int k = getGraphPosX(xVect);
  if (k >= 0 && k <= 255) {
    const double y = get_pointY(cData[k]);
    damage_markLine(xVect, y, xVect, y, kMarkerReach);
  }
  if (xSel >= 0 && xSel <= 255) {
    const double x = get_pointX(xSel), y = get_pointY(cData[xSel]);
    damage_markLine(x, y, x, y, kMarkerReach);
  }
}

// The boxes of the layers back to the axes alone.
void wipeLayers(const std::vector<DamageBox>& boxes) {
  cairo_surface_flush(layers);
  unsigned char* to = cairo_image_surface_get_data(layers);
  const unsigned char* from = cairo_image_surface_get_data(axes);
  const int stride = cairo_image_surface_get_stride(axes);
  for (const DamageBox& b : boxes)
    for (int y = b.y; y < b.y + b.h; y++) {
      const size_t at = (size_t)y * stride + (size_t)b.x * 4;
      memcpy(to + at, from + at, (size_t)b.w * 4);
    }
  cairo_surface_mark_dirty(layers);
}

void strokeLine(cairo_t* cr, double x0, double y0, double x1, double y1) {
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

void showLabel(cairo_t* cr, int value, double x, double y, bool centredUnder) {
  char text[16];
  snprintf(text, sizeof text, "%d", value);
  cairo_text_extents_t ext;
  cairo_text_extents(cr, text, &ext);
  cairo_set_source_rgb(cr, 0, 0, 0);
  if (centredUnder)
    cairo_move_to(cr, x - 0.5 * ext.width, y + ext.height + 5);
  else
    cairo_move_to(cr, x - ext.width - 5, y + 0.5 * ext.height);
  cairo_show_text(cr, text);
}

gboolean da_cfgexp(GtkWidget* widget, GdkEvent* event, gpointer kind) {
  if (GPOINTER_TO_INT(kind) == KIND_CONFIGURE) {
    curve_setSize(widget->allocation.width, widget->allocation.height);
    releasePicture();
    front = backgroundPixmap();
    curve_paint();
  } else if (GPOINTER_TO_INT(kind) == KIND_EXPOSE && front) {
    // Only the exposed rectangles, not their bounding box.
    GdkRectangle* rects = nullptr;
    gint n = 0;
    gdk_region_get_rectangles(event->expose.region, &rects, &n);
    for (gint i = 0; i < n; i++)
      gdk_draw_drawable(widget->window, widget->style->fg_gc[GTK_WIDGET_STATE(widget)], front,
                        rects[i].x, rects[i].y, rects[i].x, rects[i].y, rects[i].width,
                        rects[i].height);
    g_free(rects);
  }
  return TRUE;
}

CurveEvent toCurveEvent(GdkEvent* event, int kind) {
  CurveEvent ev{kind, 0, 0, 0, false};
  switch (event->type) {
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_3BUTTON_PRESS:
    case GDK_BUTTON_RELEASE:
      ev.x = event->button.x;
      ev.y = event->button.y;
      ev.button = (int)event->button.button;
      break;
    case GDK_SCROLL:
      ev.x = event->scroll.x;
      ev.y = event->scroll.y;
      ev.scrollUp = event->scroll.direction == GDK_SCROLL_UP;
      break;
    case GDK_MOTION_NOTIFY:
      ev.x = event->motion.x;
      ev.y = event->motion.y;
      break;
    default:
      break;
  }
  return ev;
}

// Shows the cross while the pointer is in the edit area, the default outside.
void updateCursor(GtkWidget* widget, bool outside) {
  if (outside) {
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    if (top && top->window) gdk_window_set_cursor(top->window, NULL);
    if (widget->window) gdk_window_set_cursor(widget->window, NULL);
  } else if (widget->window) {
    gdk_window_set_cursor(widget->window, crossCursor);
  }
}

// The keys of keyboard editing, or -1.
int curveKey(guint keyval) {
  switch (keyval) {
    case GDK_Left:
    case GDK_KP_Left:
      return CURVE_KEY_LEFT;
    case GDK_Right:
    case GDK_KP_Right:
      return CURVE_KEY_RIGHT;
    case GDK_Home:
    case GDK_KP_Home:
      return CURVE_KEY_HOME;
    case GDK_End:
    case GDK_KP_End:
      return CURVE_KEY_END;
    case GDK_Up:
    case GDK_KP_Up:
      return CURVE_KEY_UP;
    case GDK_Down:
    case GDK_KP_Down:
      return CURVE_KEY_DOWN;
    case GDK_Page_Up:
    case GDK_KP_Page_Up:
      return CURVE_KEY_PAGE_UP;
    case GDK_Page_Down:
    case GDK_KP_Page_Down:
      return CURVE_KEY_PAGE_DOWN;
    default:
      return -1;
  }
}

gboolean handle_key(GtkWidget*, GdkEventKey* event, gpointer) {
  if (event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK)) return FALSE;
  const int key = curveKey(event->keyval);
  if (key < 0) return FALSE;
  // The editing keys stay with the view (arrows would move the focus away).
  char txt[CURVE_LABEL_SIZE];
  if (curve_handleKey(key, (event->state & GDK_SHIFT_MASK) != 0, curve_approxWidth(), txt, sizeof txt)) {
    if (cLabel) gtk_label_set_text(GTK_LABEL(cLabel), txt);
    curve_paint();
  }
  return TRUE;
}

gboolean handle_mouse(GtkWidget* widget, GdkEvent* event, gpointer kind) {
  if (bussy) return TRUE;  // never re-entered: GTK delivers events one by one
  bussy = true;
  if (GPOINTER_TO_INT(kind) == CURVE_EV_PRESS) gtk_widget_grab_focus(widget);
  char txt[CURVE_LABEL_SIZE];
  CurveEvent ev = toCurveEvent(event, GPOINTER_TO_INT(kind));
  int where = curve_handleEvent(ev, curve_approxWidth(), txt, sizeof txt);
  updateCursor(widget, where == CURVE_POINTER_OUTSIDE);
  if (cLabel) gtk_label_set_text(GTK_LABEL(cLabel), txt);
  curve_paint();
  bussy = false;
  return TRUE;
}

// The curve changed from outside the view's own handlers (a preset, a read,
// undo or redo): the readout and the picture show it as it is now.
void curveChanged() {
  curve_refreshLabel();
  curve_paint();
}

}  // namespace

void paintPoint(cairo_t* cr, double x, double y) {
  cairo_move_to(cr, x - 1, y - 1);
  cairo_line_to(cr, x + 1, y + 1);
  cairo_close_path(cr);
  cairo_stroke(cr);
}

void paintAxis(cairo_t* cr) {
  const int w = curve_getWidth(), h = curve_getHeight();
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, 2);
  strokeLine(cr, 40, h - 30, w - 20, h - 30);
  strokeLine(cr, 50, h - 20, 50, 20);
  cairo_text_extents_t ext;
  cairo_text_extents(cr, "OUT", &ext);
  cairo_move_to(cr, 50 - (15 + ext.width), 5 + ext.height);
  cairo_show_text(cr, "OUT");
  cairo_set_line_width(cr, 0.5);
  for (int v = CURVE_MAX; v > 0; v -= 512) {
    const double y = get_pointY(v);
    cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
    strokeLine(cr, 50, y, w - 20, y);
    showLabel(cr, v, 50, y, false);
  }
  for (int i = 255; i > 0; i = (i == 255) ? 240 : i - 16) {
    const double x = get_pointX(i);
    cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
    strokeLine(cr, x, h - 30, x, 20);
    showLabel(cr, i, x, h - 30, true);
  }
}

void paintCurve(cairo_t* cr) {
  cairo_set_source_rgb(cr, 0, 1, 0);
  cairo_set_line_width(cr, 2.5);
  for (int i = 1; i < CURVE_POINTS; i++)
    strokeLine(cr, get_pointX(i - 1), get_pointY(cData[i - 1]), get_pointX(i),
               get_pointY(cData[i]));
}

void paintPointer(cairo_t* cr) {
  cairo_set_line_width(cr, 3);
  const double xVect = curve_getXVect();
  const int k = getGraphPosX(xVect);
  if (k >= 0 && k <= 255) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    paintPoint(cr, xVect, get_pointY(cData[k]));
  }
  if (xSel >= 0 && xSel <= 255) {
    cairo_set_source_rgb(cr, 1, 0, 0);
    paintPoint(cr, get_pointX(xSel), get_pointY(cData[xSel]));
  }
}

void curve_paint() {
  const int w = curve_getWidth(), h = curve_getHeight();
  if (!da || !da->window || w <= 0 || h <= 0) return;
  if (!front) front = backgroundPixmap();
  if (!axes) makeLayers();
  const int state = GTK_WIDGET_STATE(da);
  if (!haveBackground || da->style->bg[state].pixel != backgroundPixel) {
    damage_all();
    backgroundPixel = da->style->bg[state].pixel;
    haveBackground = true;
  }
  damage_begin();
  markStrokes();
  const std::vector<DamageBox>& boxes = damage_end();
  wipeLayers(boxes);
  cairo_t* cr = cairo_create(layers);
  paintCurve(cr);
  paintPointer(cr);
  cairo_destroy(cr);
  cairo_surface_flush(layers);
  // In each box: the background, then the layers composited over it.
  cairo_t* onFront = gdk_cairo_create(front);
  for (const DamageBox& b : boxes) {
    gdk_draw_rectangle(front, da->style->bg_gc[state], TRUE, b.x, b.y, b.w, b.h);
    cairo_rectangle(onFront, b.x, b.y, b.w, b.h);
  }
  cairo_clip(onFront);
  cairo_set_source_surface(onFront, layers, 0, 0);
  cairo_paint(onFront);
  cairo_destroy(onFront);
  for (const DamageBox& b : boxes) gtk_widget_queue_draw_area(da, b.x, b.y, b.w, b.h);
  // Querying the pointer lets GDK send the next motion hint.
  if (!rootWindow) rootWindow = gdk_get_default_root_window();
  gint px, py;
  gdk_window_get_pointer(rootWindow, &px, &py, NULL);
}

GtkWidget* curve_getDrawingArea() {
  if (da) return da;
  crossCursor = gdk_cursor_new(GDK_CROSS);
  da = gtk_drawing_area_new();
  gtk_widget_add_events(da, GDK_ALL_EVENTS_MASK);
  gtk_widget_set_size_request(da, 440, 350);
  // The view draws from its own finished picture: GTK's extra buffer for
  // each expose would only copy it once more.
  gtk_widget_set_double_buffered(da, FALSE);
  g_signal_connect(da, "configure-event", G_CALLBACK(da_cfgexp), GINT_TO_POINTER(0));
  g_signal_connect(da, "expose-event", G_CALLBACK(da_cfgexp), GINT_TO_POINTER(1));
  g_signal_connect(da, "button-press-event", G_CALLBACK(handle_mouse), GINT_TO_POINTER(2));
  g_signal_connect(da, "button-release-event", G_CALLBACK(handle_mouse), GINT_TO_POINTER(3));
  g_signal_connect(da, "scroll-event", G_CALLBACK(handle_mouse), GINT_TO_POINTER(4));
  g_signal_connect(da, "motion-notify-event", G_CALLBACK(handle_mouse), GINT_TO_POINTER(5));
  g_signal_connect(da, "key-press-event", G_CALLBACK(handle_key), NULL);
  GTK_WIDGET_SET_FLAGS(da, GTK_CAN_FOCUS);
  atk_object_set_name(gtk_widget_get_accessible(da), "Curve view");
  curve_setRepaintHook(curveChanged);
  gtk_widget_show(da);
  return da;
}

GtkWidget* getApproxWin(int active) {
  GtkWidget* label = gtk_label_new("Aproximation:");
  gtk_widget_show(label);
  GtkWidget* fixed = gtk_fixed_new();
  GtkWidget* box = gtk_hbox_new(FALSE, 2);
  gtk_container_set_border_width(GTK_CONTAINER(box), 5);
  gtk_fixed_put(GTK_FIXED(fixed), box, 0, 0);
  gtk_widget_show(box);
  gtk_widget_show(fixed);
  gtk_box_pack_start(GTK_BOX(box), label, FALSE, TRUE, 1);
  comboApprox = gtk_combo_box_text_new();
  for (int i = 0; i <= kMaxApprox; i++) {
    char text[8];
    snprintf(text, sizeof text, "%d", i);
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(comboApprox), text);
  }
  gtk_combo_box_set_active(GTK_COMBO_BOX(comboApprox), active);
  atk_object_set_name(gtk_widget_get_accessible(comboApprox), "Aproximation");
  gtk_widget_show(comboApprox);
  gtk_box_pack_start(GTK_BOX(box), comboApprox, FALSE, TRUE, 1);
  return fixed;
}

GtkWidget* getClabel() {
  cLabel = gtk_label_new("");
  gtk_label_set_justify(GTK_LABEL(cLabel), GTK_JUSTIFY_LEFT);
  atk_object_set_name(gtk_widget_get_accessible(cLabel), "Curve label");
  gtk_widget_show(cLabel);
  return cLabel;
}

void curve_refreshLabel() {
  if (!cLabel) return;
  char txt[CURVE_LABEL_SIZE];
  curve_formatLabel(txt, sizeof txt);
  gtk_label_set_text(GTK_LABEL(cLabel), txt);
}

int curve_approxWidth() {
  if (!comboApprox) return kDefaultApprox;
  int a = gtk_combo_box_get_active(GTK_COMBO_BOX(comboApprox));
  return a < 0 ? 0 : a;
}
