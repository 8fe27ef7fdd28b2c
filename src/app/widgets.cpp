#include "app/widgets.h"

#include <gtk/gtk.h>

#include <string>

namespace {

gboolean release(gpointer object) {
  g_object_unref(object);
  return FALSE;
}

// An accessibility client's click (GAIL's click action) touches the button
// again after this handler has returned; an action that runs a modal dialog
// may see the window, and the button with it, destroyed meanwhile (SIGTERM).
// So the button is held until the click has been delivered in full.
void onClicked(GtkWidget* button, gpointer action) {
  g_object_ref(button);
  ((void (*)())action)();
  g_idle_add(release, button);
}

}  // namespace

GtkWidget* widgets_newButton(GtkWidget*& slot, const char* label, void (*action)()) {
  slot = gtk_button_new_with_label(label);
  g_signal_connect(slot, "clicked", G_CALLBACK(onClicked), (gpointer)action);
  gtk_widget_show(slot);
  return slot;
}

GtkWidget* widgets_button(GtkWidget*& slot, const char* label, void (*action)()) {
  return slot ? slot : widgets_newButton(slot, label, action);
}

namespace {

GtkWidget* fixedBox(GtkWidget* inner, GtkWidget** box) {
  GtkWidget* fixed = gtk_fixed_new();
  *box = inner;
  gtk_container_set_border_width(GTK_CONTAINER(*box), 0);
  gtk_fixed_put(GTK_FIXED(fixed), *box, 0, 0);
  gtk_widget_show(*box);
  gtk_widget_show(fixed);
  return fixed;
}

}  // namespace

GtkWidget* widgets_fixedColumn(int spacing, GtkWidget** box) {
  return fixedBox(gtk_vbox_new(FALSE, spacing), box);
}

GtkWidget* widgets_fixedRow(int spacing, GtkWidget** box) {
  return fixedBox(gtk_hbox_new(FALSE, spacing), box);
}

GtkWidget* widgets_list(const char* title, const char* accessibleName, int width, int height,
                        GtkWidget** list) {
  const char* titles[] = {title};
  return widgets_table(titles, 1, accessibleName, width, height, list);
}

GtkWidget* widgets_table(const char* const* titles, int columns, const char* accessibleName, int width,
                         int height, GtkWidget** list) {
  GtkWidget* scrolled = gtk_scrolled_window_new(NULL, NULL);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_ALWAYS);
  gtk_widget_set_size_request(scrolled, width, height);
  *list = gtk_clist_new_with_titles(columns, (gchar**)titles);
  gtk_clist_set_shadow_type(GTK_CLIST(*list), GTK_SHADOW_NONE);
  gtk_clist_set_column_width(GTK_CLIST(*list), columns - 1, 0);
  gtk_clist_set_row_height(GTK_CLIST(*list), 25);
  atk_object_set_name(gtk_widget_get_accessible(*list), accessibleName);
  gtk_container_add(GTK_CONTAINER(scrolled), *list);
  gtk_widget_show(*list);
  gtk_widget_show(scrolled);
  return scrolled;
}

// Where a result line's explanation starts: after the UID with its file
// line and the outcome (commission_resultLine, rig_checkRowLine).
enum { RESULT_DETAIL_COLUMN = 35 };

GtkWidget* widgets_resultsView(const std::string& text, const char* name) {
  GtkWidget* view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text.c_str(), -1);
  PangoFontDescription* mono = pango_font_description_from_string("Monospace");
  gtk_widget_modify_font(view, mono);
  PangoLayout* layout = gtk_widget_create_pango_layout(view, std::string(RESULT_DETAIL_COLUMN, 'M').c_str());
  pango_layout_set_font_description(layout, mono);  // the view's style takes the font only once it is shown
  int indent = 0, height = 0;
  pango_layout_get_pixel_size(layout, &indent, &height);
  g_object_unref(layout);
  pango_font_description_free(mono);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
  // A negative indent leaves a line's first row whole and indents the rows
  // it wraps into.
  gtk_text_view_set_indent(GTK_TEXT_VIEW(view), -indent);
  atk_object_set_name(gtk_widget_get_accessible(view), name);
  GtkWidget* scrolled = gtk_scrolled_window_new(NULL, NULL);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
  gtk_widget_set_size_request(scrolled, 620, 240);
  gtk_container_add(GTK_CONTAINER(scrolled), view);
  gtk_widget_show_all(scrolled);
  return scrolled;
}
