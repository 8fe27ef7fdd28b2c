#include "app/widgets.h"

#include <gtk/gtk.h>

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
