// libFirstLoadGtk.so: the form's window and the message box with GTK 3.
#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "platform/posix/gtk/icon.h"
#include "platform/posix/gtk_module.h"

namespace fl::posix::gtk {

namespace {

struct Window {
  GtkWidget* widget;
  void (*onClose)(void*);
  void* context;
  GtkWidget* label = nullptr;
};

gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
  auto* w = static_cast<Window*>(data);
  if (w->onClose != nullptr) w->onClose(w->context);
  return TRUE;  // the owner decides when the window goes
}

// The queue's wake-up descriptor only wakes the loop; the queue itself is
// drained by the caller.
gboolean OnWake(gint fd, GIOCondition, gpointer) {
  eventfd_t count;
  while (eventfd_read(fd, &count) == 0) {
  }
  return G_SOURCE_CONTINUE;
}

// The fallback for an icon theme without "dialog-information": a blue disc
// with a white "i", drawn at the dialog icon size.
GtkWidget* DrawnInformationIcon(int size) {
  const int scale = gdk_window_get_scale_factor(gdk_get_default_root_window());
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size * scale, size * scale);
  cairo_surface_set_device_scale(surface, scale, scale);
  cairo_t* cr = cairo_create(surface);
  const double s = size, c = s / 2;
  cairo_arc(cr, c, c, s * 0.45, 0, 2 * G_PI);
  cairo_set_source_rgb(cr, 0.13, 0.38, 0.78);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0.07, 0.24, 0.55);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_arc(cr, c, s * 0.28, s * 0.07, 0, 2 * G_PI);
  cairo_fill(cr);
  cairo_rectangle(cr, c - s * 0.06, s * 0.41, s * 0.12, s * 0.36);
  cairo_fill(cr);
  cairo_destroy(cr);
  GtkWidget* image = gtk_image_new_from_surface(surface);
  cairo_surface_destroy(surface);
  return image;
}

// The icon theme's "dialog-information" at the dialog size, or the drawn one
// where the theme has none. GTK's own resources hold a 16-pixel picture of
// that name, which would look lost in the box, so a picture counts only when
// it comes near the size asked for and loads.
GtkWidget* InformationIcon() {
  int size = 48;
  gtk_icon_size_lookup(GTK_ICON_SIZE_DIALOG, &size, nullptr);
  GtkIconInfo* info = gtk_icon_theme_lookup_icon(gtk_icon_theme_get_default(), "dialog-information",
                                                 size, static_cast<GtkIconLookupFlags>(0));
  bool themed = false;
  if (info != nullptr) {
    const int base = gtk_icon_info_get_base_size(info);
    GdkPixbuf* probe =
        base == 0 || base * 3 >= size * 2 ? gtk_icon_info_load_icon(info, nullptr) : nullptr;
    themed = probe != nullptr;
    if (probe != nullptr) g_object_unref(probe);
    g_object_unref(info);
  }
  if (themed) return gtk_image_new_from_icon_name("dialog-information", GTK_ICON_SIZE_DIALOG);
  return DrawnInformationIcon(size);
}

int Init(int wakeFd) {
  if (!gtk_init_check(nullptr, nullptr)) return 0;
  g_unix_fd_add(wakeFd, G_IO_IN, &OnWake, nullptr);
  return 1;
}

// The program's name in the window system: the class of its windows and
// the name desktop shells list it under.
void SetApplicationName(const char* name) {
  if (*name == '\0') return;
  g_set_prgname(name);
  // GLib takes the application name once.
  static bool named = false;
  if (!named) g_set_application_name(name);
  named = true;
}

void* CreateWindow(const FirstLoadGtkWindowDesign* design, void (*onClose)(void*), void* context) {
  const FirstLoadGtkWindowDesign& d = *design;
  // GTK's scale factor maps these logical pixels to the device's; the font
  // resolution (Xft.dpi, 96 unless set) is what makes a twip.
  // GTK sets the screen's resolution once its settings exist.
  GdkScreen* screen = gdk_screen_get_default();
  gtk_settings_get_for_screen(screen);
  const double resolution = gdk_screen_get_resolution(screen);
  const double perTwip = (resolution > 0 ? resolution : 96.0) / 1440.0;
  auto px = [perTwip](int twips) { return static_cast<int>(std::lround(twips * perTwip)); };
  auto* w = new Window{gtk_window_new(GTK_WINDOW_TOPLEVEL), onClose, context};
  GtkWindow* win = GTK_WINDOW(w->widget);
  gtk_window_set_title(win, d.caption);
  gtk_window_set_resizable(win, FALSE);
  gtk_window_set_position(win, GTK_WIN_POS_CENTER);

  GdkPixbuf* icon = gdk_pixbuf_new_from_xpm_data(const_cast<const char**>(kDownArrowIcon));
  if (icon != nullptr) {
    gtk_window_set_icon(win, icon);
    g_object_unref(icon);
  }

  GtkWidget* area = gtk_fixed_new();
  GtkWidget* label = gtk_label_new(d.labelText);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_yalign(GTK_LABEL(label), 0.0f);

  // Fontconfig substitutes a metric-compatible face where Arial is missing.
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, d.fontName);
  pango_font_description_set_size(font, static_cast<gint>(d.fontPoints * PANGO_SCALE));
  pango_font_description_set_weight(font, PANGO_WEIGHT_NORMAL);
  PangoAttrList* attrs = pango_attr_list_new();
  pango_attr_list_insert(attrs, pango_attr_font_desc_new(font));
  gtk_label_set_attributes(GTK_LABEL(label), attrs);
  pango_attr_list_unref(attrs);
  pango_font_description_free(font);

  // A translated line may be longer or taller than the English one the form
  // was drawn for: the label and the window grow by what it lacks, so that
  // the whole line shows; a line that fits leaves the form as drawn.
  int textWidth = 0, textHeight = 0;
  pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(label)), &textWidth, &textHeight);
  const int wider = std::max(0, textWidth - px(d.labelWidth));
  const int taller = std::max(0, textHeight - px(d.labelHeight));
  gtk_widget_set_size_request(area, px(d.clientWidth) + wider, px(d.clientHeight) + taller);
  gtk_widget_set_size_request(label, px(d.labelWidth) + wider, px(d.labelHeight) + taller);

  gtk_fixed_put(GTK_FIXED(area), label, px(d.labelLeft), px(d.labelTop));
  gtk_container_add(GTK_CONTAINER(win), area);
  w->label = label;
  g_signal_connect(w->widget, "delete-event", G_CALLBACK(OnDeleteEvent), w);
  gtk_widget_show_all(area);
  return w;
}

void ShowWindow(void* window) {
  GtkWidget* widget = static_cast<Window*>(window)->widget;
  gtk_widget_show(widget);
  // The map request would wait in Xlib's buffer for the main loop, behind
  // whatever the caller does next (the first fetch loads the HTTP stack);
  // sent now, the server puts the window on screen meanwhile.
  gdk_display_flush(gtk_widget_get_display(widget));
}

void HideWindow(void* window) {
  gtk_widget_hide(static_cast<Window*>(window)->widget);
}

void DestroyWindow(void* window) {
  auto* w = static_cast<Window*>(window);
  gtk_widget_destroy(w->widget);
  delete w;
}

unsigned long NativeHandle(void* window) {
  GdkWindow* gdk = gtk_widget_get_window(static_cast<Window*>(window)->widget);
  if (gdk != nullptr && GDK_IS_X11_WINDOW(gdk)) return GDK_WINDOW_XID(gdk);
  return reinterpret_cast<unsigned long>(window);
}

void MeasureLine(void* window, int* extents) {
  GtkWidget* label = static_cast<Window*>(window)->label;
  pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(label)), &extents[0], &extents[1]);
  extents[2] = gtk_widget_get_allocated_width(label);
  extents[3] = gtk_widget_get_allocated_height(label);
}

void PumpPending() {
  while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

void WaitOnce() {
  g_main_context_iteration(nullptr, TRUE);
}

int MessageBox(const char* text, const char* title) {
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO,
                                             GTK_BUTTONS_OK, "%s", text);
  gtk_window_set_title(GTK_WINDOW(dialog), title);
  // A screen reader names the box by its title, as it does the form, and not
  // by the kind of message GTK names it after ("Information").
  atk_object_set_name(gtk_widget_get_accessible(dialog), title);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  // GTK 3's message dialog no longer shows the icon of its message type,
  // while the box should look like the Windows information box. The icon
  // goes first in the row that holds the text, where the deprecated
  // gtk_message_dialog_set_image would put it.
  GtkWidget* row =
      gtk_widget_get_parent(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog)));
  if (GTK_IS_BOX(row)) {
    GtkWidget* icon = InformationIcon();
    gtk_widget_set_valign(icon, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(row), icon, 0);
    gtk_widget_show(icon);
  }
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  PumpPending();
  return 1;  // OK is the only button; closing the box answers the same
}

constexpr FirstLoadGtkApi kModule{&Init,        &SetApplicationName, &CreateWindow, &ShowWindow,
                                  &HideWindow,  &DestroyWindow,      &NativeHandle, &MessageBox,
                                  &PumpPending, &WaitOnce,           &MeasureLine};

}  // namespace

}  // namespace fl::posix::gtk

extern "C" __attribute__((visibility("default"))) const FirstLoadGtkApi* FirstLoadGtkModule(
    int version) {
  if (version != fl::posix::gtk::kInterfaceVersion) return nullptr;
  return &fl::posix::gtk::kModule;
}
