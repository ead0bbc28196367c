#include "sequence_widget.h"

#include "texts.h"

#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>
#include <pangomm/layout.h>

#include <algorithm>

namespace {

// A column's accessible name is made when asked, from the column's position
// then: an edit near the start of a long sequence moves every later column,
// and renaming thousands of accessible objects on each key would be slow.
struct ColumnAccessible {
    GtkWidgetAccessible parent;
};
struct ColumnAccessibleClass {
    GtkWidgetAccessibleClass parent_class;
};

GType column_accessible_get_type();
G_DEFINE_TYPE(ColumnAccessible, column_accessible, GTK_TYPE_WIDGET_ACCESSIBLE)

const gchar* column_get_name(AtkObject* accessible)
{
    GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(accessible));
    auto* column = widget ? dynamic_cast<stepmill::SequenceWidget*>(Glib::wrap(widget)) : nullptr;
    if (!column)
        return nullptr;
    // The string lives in the object until the next call, as ATK expects.
    g_free(accessible->name);
    accessible->name = g_strdup(column->accessible_name().c_str());
    return accessible->name;
}

void column_accessible_class_init(ColumnAccessibleClass* klass)
{
    ATK_OBJECT_CLASS(klass)->get_name = column_get_name;
}

void column_accessible_init(ColumnAccessible*) {}

}  // namespace

namespace stepmill {

RowTextWidget::RowTextWidget(uint64_t rows)
    : Glib::ObjectBase("RowTextWidget"), rows(rows) {
    set_has_window(false);
    set_valign(Gtk::ALIGN_START);
}

void RowTextWidget::follow_rows_of(const Gtk::Widget* source) {
    row_source = source;
    queue_resize();
}

void RowTextWidget::measure() const {
    if (line_height >= 0)
        return;
    auto self = const_cast<RowTextWidget*>(this);
    auto layout = self->create_pango_layout(widest_text());
    int w = 0, h = 0;
    layout->get_pixel_size(w, h);
    text_width = w;
    line_height = h;
}

void RowTextWidget::on_style_updated() {
    Gtk::Widget::on_style_updated();
    line_height = -1;
    text_width = -1;
    queue_resize();
}

Gtk::SizeRequestMode RowTextWidget::get_request_mode_vfunc() const {
    return Gtk::SIZE_REQUEST_CONSTANT_SIZE;
}

void RowTextWidget::get_preferred_width_vfunc(int& minimum, int& natural) const {
    measure();
    minimum = natural = text_width;
}

void RowTextWidget::get_preferred_height_vfunc(int& minimum, int& natural) const {
    measure();
    minimum = natural = static_cast<int>(rows) * line_height;
    if (row_source && rows > 0) {
        int source_minimum = 0, source_natural = 0;
        row_source->get_preferred_height(source_minimum, source_natural);
        minimum = natural = std::max(natural, source_natural);
    }
}

void RowTextWidget::get_preferred_width_for_height_vfunc(int, int& minimum, int& natural) const {
    get_preferred_width_vfunc(minimum, natural);
}

void RowTextWidget::get_preferred_height_for_width_vfunc(int, int& minimum, int& natural) const {
    get_preferred_height_vfunc(minimum, natural);
}

// A box gives each expanding child its natural height plus an even share of
// the rest, the first (rest % rows) children one pixel more: the rows here
// fall on the same pixels, so they line up with the sprite buttons beside.
void RowTextWidget::row_extent(uint64_t i, int& y, int& height) const {
    measure();
    int n = static_cast<int>(rows);
    if (n == 0) {
        y = height = 0;
        return;
    }
    int rest = std::max(0, get_allocated_height() - n * line_height);
    int base = line_height + rest / n;
    int longer = rest % n;
    int k = static_cast<int>(i);
    y = k * base + std::min(k, longer);
    height = base + (k < longer ? 1 : 0);
}

bool RowTextWidget::on_draw(const Cairo::RefPtr<Cairo::Context>& cr) {
    measure();
    double x1, y1, x2, y2;
    cr->get_clip_extents(x1, y1, x2, y2);
    auto style = get_style_context();
    int width = get_allocated_width();
    for (uint64_t i = 0; i < rows; ++i) {
        int y, h;
        row_extent(i, y, h);
        if (y + h < y1)
            continue;
        if (y > y2)
            break;
        Glib::ustring text = row_text(i);
        if (text == " ")
            continue;   // a space paints nothing
        auto layout = create_pango_layout(text);
        int w, lh;
        layout->get_pixel_size(w, lh);
        Gdk::RGBA back;
        if (row_color(i, back)) {
            cr->set_source_rgb(back.get_red(), back.get_green(), back.get_blue());
            cr->rectangle(0, y, width, h);
            cr->fill();
            // Light text on a dark colour, the theme's own on a light one.
            if (0.3 * back.get_red() + 0.59 * back.get_green() + 0.11 * back.get_blue() < 0.45) {
                cr->set_source_rgb(1, 1, 1);
                cr->move_to((width - w) / 2, y + (h - lh) / 2);
                layout->show_in_cairo_context(cr);
                continue;
            }
        }
        style->render_layout(cr, (width - w) / 2, y + (h - lh) / 2, layout);
    }
    return true;
}

SequenceWidget::SequenceWidget(uint64_t sprite_count, int sprite, const colors_t* colors)
    : Glib::ObjectBase("SequenceWidget"), RowTextWidget(sprite_count), sprite(sprite), colors(colors),
      label(sprite_label(static_cast<uint64_t>(sprite))) {
    gtk_widget_class_set_accessible_type(GTK_WIDGET_GET_CLASS(gobj()), column_accessible_get_type());
}

SequenceWidget::~SequenceWidget() = default;

Glib::ustring SequenceWidget::row_text(uint64_t i) const {
    return i == static_cast<uint64_t>(sprite) ? label : Glib::ustring(" ");
}

bool SequenceWidget::row_color(uint64_t i, Gdk::RGBA& color) const {
    if (!colors || i != static_cast<uint64_t>(sprite) || i >= colors->size())
        return false;
    const auto& c = (*colors)[i];
    color.set_rgba(c[0] / 255.0, c[1] / 255.0, c[2] / 255.0);
    return true;
}

Glib::ustring SequenceWidget::widest_text() const {
    // The column is as wide as its widest label: the sprite's own or a space.
    auto self = const_cast<SequenceWidget*>(this);
    int wl = 0, ws = 0, h = 0;
    self->create_pango_layout(label)->get_pixel_size(wl, h);
    self->create_pango_layout(" ")->get_pixel_size(ws, h);
    return wl >= ws ? label : Glib::ustring(" ");
}

void SequenceWidget::set_position(uint64_t p) {
    position = p;
}

// Position is 1-based, as a user counts the columns: "列 3 スプライト 5".
Glib::ustring SequenceWidget::accessible_name() const {
    return "列 " + Glib::ustring::format(position + 1) + " スプライト " + label;
}

SeparateWidget::SeparateWidget(uint64_t sprite_count)
    : Glib::ObjectBase("SeparateWidget"), RowTextWidget(sprite_count) {
    atk_object_set_name(gtk_widget_get_accessible(GTK_WIDGET(gobj())), "カーソル");
}

SeparateWidget::~SeparateWidget() = default;

Glib::ustring SeparateWidget::row_text(uint64_t) const { return "|"; }

Glib::ustring SeparateWidget::widest_text() const { return "|"; }

void SeparateWidget::on_size_allocate(Gtk::Allocation& allocation) {
    Gtk::Widget::on_size_allocate(allocation);
    placed.emit(allocation);
}

}  // namespace stepmill
