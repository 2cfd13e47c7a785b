/* The least program that shows FirstLoad's window: GTK 3, the same caption,
   client size, label, font and place as the form at the display's
   resolution, and nothing else; it then waits until it is ended. */
#include <gtk/gtk.h>
#include <math.h>

static int px(double twips, double per_twip) {
  return (int)lround(twips * per_twip);
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  GdkScreen* screen = gdk_screen_get_default();
  gtk_settings_get_for_screen(screen);
  double resolution = gdk_screen_get_resolution(screen);
  double per_twip = (resolution > 0 ? resolution : 96.0) / 1440.0;

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Zelvan's Downloader");
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  GtkWidget* area = gtk_fixed_new();
  gtk_widget_set_size_request(area, px(5820, per_twip), px(630, per_twip));
  GtkWidget* label = gtk_label_new("Connecting to Zelvan's website. Please Wait......");
  gtk_widget_set_size_request(label, px(4380, per_twip), px(240, per_twip));
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
  PangoAttrList* attrs = pango_attr_list_new();
  PangoFontDescription* font = pango_font_description_from_string("Arial 9.75");
  pango_attr_list_insert(attrs, pango_attr_font_desc_new(font));
  gtk_label_set_attributes(GTK_LABEL(label), attrs);
  gtk_fixed_put(GTK_FIXED(area), label, px(240, per_twip), px(120, per_twip));
  gtk_container_add(GTK_CONTAINER(window), area);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
