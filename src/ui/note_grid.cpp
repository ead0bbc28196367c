#include "note_grid.h"

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>

#include "song.h"

#include <algorithm>
#include <iterator>

// --- Accessibility: the grid as a parent of one check box per step ---------
//
// The grid's accessible object is the toolkit's own for a widget, with the
// boxes as its children. It manages its descendants (there are hundreds), so
// assistive technology asks for them instead of caching them.

namespace {

struct NoteGridAccessible {
    GtkWidgetAccessible parent;
};
struct NoteGridAccessibleClass {
    GtkWidgetAccessibleClass parent_class;
};

struct NoteBoxAccessible {
    AtkObject parent;
    stepmill::NoteGrid* grid;   // null once the grid or the box is gone
    uint64_t row, beat;
};
struct NoteBoxAccessibleClass {
    AtkObjectClass parent_class;
};

GType note_grid_accessible_get_type();
GType note_box_accessible_get_type();

G_DEFINE_TYPE(NoteGridAccessible, note_grid_accessible, GTK_TYPE_WIDGET_ACCESSIBLE)

void note_box_component_init(AtkComponentIface* iface);
void note_box_action_init(AtkActionIface* iface);

G_DEFINE_TYPE_WITH_CODE(NoteBoxAccessible, note_box_accessible, ATK_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_COMPONENT, note_box_component_init)
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_ACTION, note_box_action_init))

stepmill::NoteGrid* grid_of(AtkObject* accessible)
{
    GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(accessible));
    return widget ? dynamic_cast<stepmill::NoteGrid*>(Glib::wrap(widget)) : nullptr;
}

gint note_grid_get_n_children(AtkObject* accessible)
{
    stepmill::NoteGrid* grid = grid_of(accessible);
    return grid ? static_cast<gint>(grid->row_count() * grid->beat_count()) : 0;
}

AtkObject* note_grid_ref_child(AtkObject* accessible, gint i)
{
    stepmill::NoteGrid* grid = grid_of(accessible);
    return grid && i >= 0 ? grid->ref_box_accessible(static_cast<uint64_t>(i)) : nullptr;
}

AtkStateSet* note_grid_ref_state_set(AtkObject* accessible)
{
    AtkStateSet* states = ATK_OBJECT_CLASS(note_grid_accessible_parent_class)->ref_state_set(accessible);
    atk_state_set_add_state(states, ATK_STATE_MANAGES_DESCENDANTS);
    return states;
}

void note_grid_accessible_class_init(NoteGridAccessibleClass* klass)
{
    AtkObjectClass* object = ATK_OBJECT_CLASS(klass);
    object->get_n_children = note_grid_get_n_children;
    object->ref_child = note_grid_ref_child;
    object->ref_state_set = note_grid_ref_state_set;
}

void note_grid_accessible_init(NoteGridAccessible*) {}

NoteBoxAccessible* box_of(gpointer accessible)
{
    return reinterpret_cast<NoteBoxAccessible*>(accessible);
}

bool box_alive(NoteBoxAccessible* box)
{
    return box->grid && box->row < box->grid->row_count() && box->beat < box->grid->beat_count();
}

gint note_box_get_index_in_parent(AtkObject* accessible)
{
    NoteBoxAccessible* box = box_of(accessible);
    return box_alive(box) ? static_cast<gint>(box->row * box->grid->beat_count() + box->beat) : -1;
}

AtkStateSet* note_box_ref_state_set(AtkObject* accessible)
{
    NoteBoxAccessible* box = box_of(accessible);
    AtkStateSet* states = atk_state_set_new();
    if (!box_alive(box)) {
        atk_state_set_add_state(states, ATK_STATE_DEFUNCT);
        return states;
    }
    for (AtkStateType s : {ATK_STATE_ENABLED, ATK_STATE_SENSITIVE, ATK_STATE_VISIBLE, ATK_STATE_FOCUSABLE,
                           ATK_STATE_CHECKABLE})
        atk_state_set_add_state(states, s);
    if (box->grid->get_mapped())
        atk_state_set_add_state(states, ATK_STATE_SHOWING);
    if (box->grid->get_active(box->row, box->beat))
        atk_state_set_add_state(states, ATK_STATE_CHECKED);
    if (box->grid->box_has_focus(box->row, box->beat))
        atk_state_set_add_state(states, ATK_STATE_FOCUSED);
    return states;
}

void note_box_accessible_class_init(NoteBoxAccessibleClass* klass)
{
    AtkObjectClass* object = ATK_OBJECT_CLASS(klass);
    object->get_index_in_parent = note_box_get_index_in_parent;
    object->ref_state_set = note_box_ref_state_set;
}

void note_box_accessible_init(NoteBoxAccessible* box)
{
    box->grid = nullptr;
    box->row = box->beat = 0;
}

void note_box_get_extents(AtkComponent* component, gint* x, gint* y, gint* width, gint* height,
                          AtkCoordType coords)
{
    NoteBoxAccessible* box = box_of(component);
    *x = *y = *width = *height = -1;
    if (!box_alive(box) || !box->grid->get_mapped())
        return;
    GdkWindow* window = box->grid->get_window()->gobj();
    int origin_x = 0, origin_y = 0;
    gdk_window_get_origin(window, &origin_x, &origin_y);
    if (coords == ATK_XY_WINDOW) {
        int top_x = 0, top_y = 0;
        gdk_window_get_origin(gdk_window_get_toplevel(window), &top_x, &top_y);
        origin_x -= top_x;
        origin_y -= top_y;
    }
    Gdk::Rectangle area = box->grid->box_area(box->row, box->beat);
    *x = origin_x + area.get_x();
    *y = origin_y + area.get_y();
    *width = area.get_width();
    *height = area.get_height();
}

gboolean note_box_grab_focus(AtkComponent* component)
{
    NoteBoxAccessible* box = box_of(component);
    if (!box_alive(box))
        return FALSE;
    box->grid->focus_box(box->row, box->beat);
    return TRUE;
}

void note_box_component_init(AtkComponentIface* iface)
{
    iface->get_extents = note_box_get_extents;
    iface->grab_focus = note_box_grab_focus;
}

gint note_box_get_n_actions(AtkAction*)
{
    return 1;
}

gboolean note_box_do_action(AtkAction* action, gint i)
{
    NoteBoxAccessible* box = box_of(action);
    if (i != 0 || !box_alive(box))
        return FALSE;
    box->grid->toggle(box->row, box->beat);
    return TRUE;
}

const gchar* note_box_action_name(AtkAction*, gint i)
{
    return i == 0 ? "click" : nullptr;
}

void note_box_action_init(AtkActionIface* iface)
{
    iface->get_n_actions = note_box_get_n_actions;
    iface->do_action = note_box_do_action;
    iface->get_name = note_box_action_name;
    iface->get_localized_name = note_box_action_name;
}

// A style context for one node below `parent` ("checkbutton", then "check"),
// as the toolkit's own check button has them, so the theme draws the same.
// A check button without a label has its check as its only child, which
// themes style apart (no margin beside the box).
GtkStyleContext* child_style(GtkStyleContext* parent, const char* name, bool only_child)
{
    GtkWidgetPath* path = gtk_widget_path_copy(gtk_style_context_get_path(parent));
    if (only_child) {
        GtkWidgetPath* siblings = gtk_widget_path_new();
        gtk_widget_path_append_type(siblings, G_TYPE_NONE);
        gtk_widget_path_iter_set_object_name(siblings, 0, name);
        gtk_widget_path_append_with_siblings(path, siblings, 0);
        gtk_widget_path_unref(siblings);
    } else {
        gtk_widget_path_append_type(path, G_TYPE_NONE);
        gtk_widget_path_iter_set_object_name(path, -1, name);
    }
    GtkStyleContext* style = gtk_style_context_new();
    gtk_style_context_set_path(style, path);
    gtk_style_context_set_parent(style, parent);
    gtk_style_context_set_state(style, gtk_widget_path_iter_get_state(path, -1));
    gtk_widget_path_unref(path);
    return style;
}

int outer(const GtkBorder& b, bool horizontal)
{
    return horizontal ? b.left + b.right : b.top + b.bottom;
}

GtkBorder margin_of(GtkStyleContext* style)
{
    GtkBorder margin;
    gtk_style_context_get_margin(style, gtk_style_context_get_state(style), &margin);
    return margin;
}

// Border and padding together, in the style's current state.
GtkBorder edges_of(GtkStyleContext* style)
{
    GtkStateFlags state = gtk_style_context_get_state(style);
    GtkBorder border, padding;
    gtk_style_context_get_border(style, state, &border);
    gtk_style_context_get_padding(style, state, &padding);
    auto sum = [](gint16 a, gint16 b) { return static_cast<gint16>(a + b); };
    return GtkBorder{sum(border.left, padding.left), sum(border.right, padding.right), sum(border.top, padding.top),
                     sum(border.bottom, padding.bottom)};
}

}  // namespace

namespace stepmill {

namespace {

constexpr uint8_t full = full_velocity;
// Ghost, normal and accent notes, as the grid steps and shows them.
constexpr uint8_t levels[] = {48, 96, full};

}  // namespace

NoteGrid::NoteGrid(uint64_t rows, namer_t namer)
    : Glib::ObjectBase("StepmillNoteGrid"), rows(rows), namer(std::move(namer)) {
    auto* klass = GTK_WIDGET_GET_CLASS(gobj());
    gtk_widget_class_set_accessible_type(klass, note_grid_accessible_get_type());
    gtk_widget_class_set_accessible_role(klass, ATK_ROLE_PANEL);
    add_events(Gdk::BUTTON_PRESS_MASK | Gdk::BUTTON_RELEASE_MASK | Gdk::POINTER_MOTION_MASK |
               Gdk::LEAVE_NOTIFY_MASK | Gdk::KEY_PRESS_MASK | Gdk::FOCUS_CHANGE_MASK | Gdk::SCROLL_MASK);
    set_can_focus(false);
    // The window's backdrop state changes every box.
    signal_state_flags_changed().connect([this](Gtk::StateFlags) { queue_draw(); });
}

NoteGrid::~NoteGrid() {
    forget_accessibles();
    forget_look();
}

void NoteGrid::set_beats(uint64_t n) {
    forget_accessibles();
    beats = n;
    active.assign(rows * beats, false);
    level.assign(rows * beats, full);
    playing = none;
    focus = 0;
    hover = pressed = none;
    set_can_focus(rows * beats > 0);
    queue_resize();
}

bool NoteGrid::get_active(uint64_t row, uint64_t beat) const {
    uint64_t i = index(row, beat);
    return row < rows && beat < beats && active[i];
}

void NoteGrid::set_active_quietly(uint64_t row, uint64_t beat, bool on) {
    if (row >= rows || beat >= beats || active[index(row, beat)] == on)
        return;
    uint64_t i = index(row, beat);
    active[i] = on;
    level[i] = full;   // a note switched on sounds at full velocity
    redraw(i);
    notify_state(i, ATK_STATE_CHECKED, on);
    if (i < accessibles.size() && accessibles[i])
        atk_object_set_name(accessibles[i], accessible_name(i).c_str());
}

uint8_t NoteGrid::velocity(uint64_t row, uint64_t beat) const {
    return row < rows && beat < beats ? level[index(row, beat)] : full;
}

void NoteGrid::set_velocity_quietly(uint64_t row, uint64_t beat, uint8_t v) {
    if (row >= rows || beat >= beats || level[index(row, beat)] == v)
        return;
    uint64_t i = index(row, beat);
    level[i] = v;
    redraw(i);
    if (i < accessibles.size() && accessibles[i])
        atk_object_set_name(accessibles[i], accessible_name(i).c_str());
}

// "クローズド・ハイハット 3", and ", 48" after it for a note softer than full.
Glib::ustring NoteGrid::accessible_name(uint64_t i) const {
    Glib::ustring name = namer(i / beats, i % beats);
    if (active[i] && level[i] != full)
        name += ", " + Glib::ustring::format(int(level[i]));
    return name;
}

void NoteGrid::step_velocity(uint64_t i, int direction, bool round) {
    if (!valid(i) || !active[i])
        return;
    const uint8_t now = level[i];
    uint8_t to = now;
    if (direction > 0) {
        for (uint8_t l : levels)
            if (l > now) { to = l; break; }
    } else {
        for (auto l = std::rbegin(levels); l != std::rend(levels); ++l)
            if (*l < now) { to = *l; break; }
        if (to == now && round)
            to = levels[std::size(levels) - 1];
    }
    if (to == now)
        return;
    set_velocity_quietly(i / beats, i % beats, to);
    velocity_changed.emit(i / beats, i % beats, to);
}

void NoteGrid::set_playing_beat(uint64_t beat) {
    if (beat == playing)
        return;
    redraw_column(playing);
    playing = beat;
    redraw_column(playing);
}

void NoteGrid::redraw_column(uint64_t beat) {
    if (beat >= beats || !get_realized())
        return;
    Gdk::Rectangle area = box_area(0, beat);
    queue_draw_area(area.get_x(), 0, area.get_width(), get_allocated_height());
}

void NoteGrid::toggle(uint64_t row, uint64_t beat) {
    if (row >= rows || beat >= beats)
        return;
    set_active_quietly(row, beat, !active[index(row, beat)]);
    toggled.emit(row, beat);
}

void NoteGrid::focus_box(uint64_t row, uint64_t beat) {
    if (row >= rows || beat >= beats)
        return;
    move_focus(index(row, beat));
    if (!has_focus())
        grab_focus();
}

bool NoteGrid::box_is_focus(uint64_t row, uint64_t beat) const {
    return row < rows && beat < beats && focus == index(row, beat) && is_focus();
}

bool NoteGrid::box_has_focus(uint64_t row, uint64_t beat) const {
    return box_is_focus(row, beat) && has_focus();
}

void NoteGrid::share(int total, uint64_t parts, uint64_t k, int& start, int& length) {
    int n = static_cast<int>(parts), i = static_cast<int>(k);
    int base = total / n, longer = total % n;
    start = i * base + std::min(i, longer);
    length = base + (i < longer ? 1 : 0);
}

Gdk::Rectangle NoteGrid::box_area(uint64_t row, uint64_t beat) const {
    if (row >= rows || beat >= beats)
        return Gdk::Rectangle(0, 0, 0, 0);
    int x, w, y, h;
    share(get_allocated_width(), beats, beat, x, w);
    share(get_allocated_height(), rows, row, y, h);
    return Gdk::Rectangle(x, y, w, h);
}

bool NoteGrid::box_at(double x, double y, uint64_t& row, uint64_t& beat) const {
    int width = get_allocated_width(), height = get_allocated_height();
    if (rows * beats == 0 || x < 0 || y < 0 || x >= width || y >= height)
        return false;
    // The share of part k starts at k * total / n, give or take the longer
    // parts' pixel: step from the estimate to the part that holds the point.
    auto find = [](double p, int total, uint64_t n) {
        uint64_t k = std::min<uint64_t>(n - 1, static_cast<uint64_t>(p * double(n) / double(total)));
        int start, length;
        for (;;) {
            share(total, n, k, start, length);
            if (p < start && k > 0)
                --k;
            else if (p >= start + length && k + 1 < n)
                ++k;
            else
                return k;
        }
    };
    beat = find(x, width, beats);
    row = find(y, height, rows);
    return true;
}

AtkObject* NoteGrid::ref_box_accessible(uint64_t i) {
    if (!valid(i))
        return nullptr;
    if (accessibles.size() != rows * beats)
        accessibles.assign(rows * beats, nullptr);
    if (!accessibles[i]) {
        auto* box = static_cast<NoteBoxAccessible*>(g_object_new(note_box_accessible_get_type(), nullptr));
        box->grid = this;
        box->row = i / beats;
        box->beat = i % beats;
        AtkObject* object = ATK_OBJECT(box);
        atk_object_initialize(object, nullptr);
        atk_object_set_role(object, ATK_ROLE_CHECK_BOX);
        atk_object_set_name(object, accessible_name(i).c_str());
        atk_object_set_parent(object, gtk_widget_get_accessible(GTK_WIDGET(gobj())));
        accessibles[i] = object;
    }
    return ATK_OBJECT(g_object_ref(accessibles[i]));
}

AtkObject* NoteGrid::box_accessible(uint64_t row, uint64_t beat) {
    if (row >= rows || beat >= beats)
        return nullptr;
    AtkObject* object = ref_box_accessible(index(row, beat));
    g_object_unref(object);   // the grid keeps its own reference
    return object;
}

void NoteGrid::forget_accessibles() {
    for (AtkObject* object : accessibles) {
        if (!object)
            continue;
        box_of(object)->grid = nullptr;
        atk_object_notify_state_change(object, ATK_STATE_DEFUNCT, TRUE);
        g_object_unref(object);
    }
    accessibles.clear();
}

void NoteGrid::notify_state(uint64_t i, AtkStateType state, bool value) {
    if (i < accessibles.size() && accessibles[i])
        atk_object_notify_state_change(accessibles[i], state, value);
}

void NoteGrid::move_focus(uint64_t i) {
    if (!valid(i) || i == focus)
        return;
    uint64_t old = focus;
    focus = i;
    if (!has_focus())
        return;
    redraw(old);
    redraw(i);
    notify_state(old, ATK_STATE_FOCUSED, false);
    notify_state(i, ATK_STATE_FOCUSED, true);
    if (i < accessibles.size() && accessibles[i])
        g_signal_emit_by_name(gtk_widget_get_accessible(GTK_WIDGET(gobj())), "active-descendant-changed",
                              accessibles[i]);
}

void NoteGrid::redraw(uint64_t i) {
    if (!valid(i) || !get_realized())
        return;
    Gdk::Rectangle area = box_area(i / beats, i % beats);
    queue_draw_area(area.get_x(), area.get_y(), area.get_width(), area.get_height());
}

void NoteGrid::set_hover(uint64_t i) {
    if (i == hover)
        return;
    redraw(hover);
    hover = i;
    redraw(hover);
}

// --- Size and drawing --------------------------------------------------------

void NoteGrid::forget_look() {
    measured_valid = false;
    painted.clear();
    if (check_style)
        g_object_unref(check_style);
    if (button_style)
        g_object_unref(button_style);
    check_style = button_style = nullptr;
}

const NoteGrid::look_t& NoteGrid::look() const {
    if (measured_valid)
        return measured;
    auto self = const_cast<NoteGrid*>(this);
    if (!button_style) {
        self->button_style =
            child_style(gtk_widget_get_style_context(self->Gtk::Widget::gobj()), "checkbutton", false);
        self->check_style = child_style(button_style, "check", true);
    }
    int min_width = 0, min_height = 0;
    gtk_style_context_get(check_style, gtk_style_context_get_state(check_style), "min-width", &min_width,
                          "min-height", &min_height, nullptr);
    GtkBorder check_margin = margin_of(check_style), check_edges = edges_of(check_style);
    GtkBorder button_margin = margin_of(button_style), button_edges = edges_of(button_style);
    measured.box_width = outer(check_edges, true) + min_width;
    measured.box_height = outer(check_edges, false) + min_height;
    measured.box_x = button_margin.left + button_edges.left + check_margin.left;
    measured.cell_width = outer(button_margin, true) + outer(button_edges, true) + outer(check_margin, true) +
                          measured.box_width;
    measured.cell_height = outer(button_margin, false) + outer(button_edges, false) +
                           outer(check_margin, false) + measured.box_height;
    measured.button_margin = button_margin;
    measured_valid = true;
    return measured;
}

void NoteGrid::on_style_updated() {
    Gtk::DrawingArea::on_style_updated();
    forget_look();
    queue_resize();
}

Gtk::SizeRequestMode NoteGrid::get_request_mode_vfunc() const {
    return Gtk::SIZE_REQUEST_CONSTANT_SIZE;
}

void NoteGrid::get_preferred_width_vfunc(int& minimum, int& natural) const {
    minimum = natural = static_cast<int>(beats) * look().cell_width;
}

void NoteGrid::get_preferred_height_vfunc(int& minimum, int& natural) const {
    minimum = natural = beats ? static_cast<int>(rows) * look().cell_height : 0;
}

void NoteGrid::get_preferred_width_for_height_vfunc(int, int& minimum, int& natural) const {
    get_preferred_width_vfunc(minimum, natural);
}

void NoteGrid::get_preferred_height_for_width_vfunc(int, int& minimum, int& natural) const {
    get_preferred_height_vfunc(minimum, natural);
}

Gtk::StateFlags NoteGrid::box_state(uint64_t i) const {
    // The widget's own hover and focus are not a box's.
    auto state = get_state_flags() & ~(Gtk::STATE_FLAG_PRELIGHT | Gtk::STATE_FLAG_ACTIVE |
                                       Gtk::STATE_FLAG_FOCUSED | Gtk::STATE_FLAG_SELECTED);
    if (active[i])
        state |= Gtk::STATE_FLAG_CHECKED;
    if (i == hover)
        state |= Gtk::STATE_FLAG_PRELIGHT;
    if (i == hover && i == pressed)
        state |= Gtk::STATE_FLAG_ACTIVE;
    return state;
}

// The box of one state is drawn once into a surface and then copied to every
// cell that shows it: the theme's drawing is the costly part.
void NoteGrid::paint_box(const Cairo::RefPtr<Cairo::Context>& cr, int x, int y, Gtk::StateFlags state, double alpha) {
    const look_t& l = look();
    auto& surface = painted[static_cast<int>(state)];
    if (!surface) {
        surface = Cairo::Surface::create(cr->get_target(), Cairo::CONTENT_COLOR_ALPHA, l.box_width, l.box_height);
        auto box = Cairo::Context::create(surface);
        auto flags = static_cast<GtkStateFlags>(state);
        gtk_style_context_set_state(button_style, flags);
        gtk_style_context_set_state(check_style, flags);
        GtkBorder edges = edges_of(check_style);
        gtk_render_background(check_style, box->cobj(), 0, 0, l.box_width, l.box_height);
        gtk_render_frame(check_style, box->cobj(), 0, 0, l.box_width, l.box_height);
        gtk_render_check(check_style, box->cobj(), edges.left, edges.top, l.box_width - outer(edges, true),
                         l.box_height - outer(edges, false));
    }
    cr->save();
    cr->set_source(surface, x, y);
    cr->rectangle(x, y, l.box_width, l.box_height);
    cr->clip();
    cr->paint_with_alpha(alpha);
    cr->restore();
}

bool NoteGrid::on_draw(const Cairo::RefPtr<Cairo::Context>& cr) {
    if (rows * beats == 0)
        return true;
    const look_t& l = look();
    double x1, y1, x2, y2;
    cr->get_clip_extents(x1, y1, x2, y2);
    uint64_t first_row, first_beat, last_row, last_beat;
    if (!box_at(std::max(0.0, x1), std::max(0.0, y1), first_row, first_beat) ||
        !box_at(std::min<double>(x2, get_allocated_width() - 1), std::min<double>(y2, get_allocated_height() - 1),
                last_row, last_beat))
        return true;
    if (playing >= first_beat && playing <= last_beat) {
        // The beat that sounds: its column lit in the theme's selection colour.
        Gdk::Rectangle column = box_area(0, playing);
        Gdk::RGBA lit = get_style_context()->get_background_color(Gtk::STATE_FLAG_SELECTED);
        if (lit.get_alpha() == 0.0)
            lit.set_rgba(0.2, 0.45, 0.85);
        cr->set_source_rgba(lit.get_red(), lit.get_green(), lit.get_blue(), 0.35);
        cr->rectangle(column.get_x(), 0, column.get_width(), get_allocated_height());
        cr->fill();
    }
    for (uint64_t r = first_row; r <= last_row; ++r) {
        for (uint64_t b = first_beat; b <= last_beat; ++b) {
            Gdk::Rectangle cell = box_area(r, b);
            // As a check button wider than its box: the box at the left,
            // centred in the height.
            int x = cell.get_x() + l.box_x;
            int y = cell.get_y() + (cell.get_height() - l.box_height) / 2;
            const uint64_t i = index(r, b);
            const Gtk::StateFlags state = box_state(i);
            if (!active[i] || level[i] == full) {
                paint_box(cr, x, y, state);
                continue;
            }
            // Softer notes: the check fades over an empty box.
            paint_box(cr, x, y, state & ~Gtk::STATE_FLAG_CHECKED);
            paint_box(cr, x, y, state, level[i] >= levels[1] ? 0.6 : 0.3);
        }
    }
    if (has_visible_focus() && valid(focus)) {
        Gdk::Rectangle cell = box_area(focus / beats, focus % beats);
        gtk_style_context_set_state(button_style, static_cast<GtkStateFlags>(box_state(focus)));
        // Around the whole button, as the toolkit draws a check button's focus.
        const GtkBorder& m = l.button_margin;
        gtk_render_focus(button_style, cr->cobj(), cell.get_x() + m.left, cell.get_y() + m.top,
                         cell.get_width() - outer(m, true), cell.get_height() - outer(m, false));
    }
    return true;
}

// --- Mouse and keyboard --------------------------------------------------------

bool NoteGrid::on_button_press_event(GdkEventButton* event) {
    uint64_t row, beat;
    if (event->button != 1 || event->type != GDK_BUTTON_PRESS || !box_at(event->x, event->y, row, beat))
        return false;
    // Control-click on a note that sounds: its next level down, round to the top.
    if ((event->state & GDK_CONTROL_MASK) && active[index(row, beat)]) {
        focus_box(row, beat);
        step_velocity(index(row, beat), -1, true);
        return true;
    }
    // As a check button takes the focus when clicked.
    focus_box(row, beat);
    pressed = index(row, beat);
    set_hover(pressed);
    redraw(pressed);
    return true;
}

bool NoteGrid::on_button_release_event(GdkEventButton* event) {
    if (event->button != 1 || pressed == none)
        return false;
    uint64_t was = pressed, row, beat;
    pressed = none;
    redraw(was);
    // Released over the box it went down on: a click.
    if (box_at(event->x, event->y, row, beat) && index(row, beat) == was)
        toggle(row, beat);
    return true;
}

bool NoteGrid::on_motion_notify_event(GdkEventMotion* event) {
    uint64_t row, beat;
    set_hover(box_at(event->x, event->y, row, beat) ? index(row, beat) : none);
    return false;
}

bool NoteGrid::on_leave_notify_event(GdkEventCrossing*) {
    set_hover(none);
    return false;
}

bool NoteGrid::on_key_press_event(GdkEventKey* event) {
    switch (event->keyval) {
    case GDK_KEY_space:
    case GDK_KEY_KP_Space:
    case GDK_KEY_Return:
    case GDK_KEY_ISO_Enter:
    case GDK_KEY_KP_Enter:
        if (!valid(focus))
            return false;
        toggle(focus / beats, focus % beats);
        return true;
    case GDK_KEY_plus:
    case GDK_KEY_equal:
    case GDK_KEY_KP_Add:
        step_velocity(focus, +1, false);
        return valid(focus) && active[focus];
    case GDK_KEY_minus:
    case GDK_KEY_KP_Subtract:
        step_velocity(focus, -1, false);
        return valid(focus) && active[focus];
    default:
        return Gtk::DrawingArea::on_key_press_event(event);
    }
}

bool NoteGrid::on_scroll_event(GdkEventScroll* event) {
    uint64_t row, beat;
    if (!box_at(event->x, event->y, row, beat) || !active[index(row, beat)])
        return false;
    double dx = 0, dy = 0;
    const int direction = event->direction == GDK_SCROLL_UP ? +1 : event->direction == GDK_SCROLL_DOWN ? -1
                          : gdk_event_get_scroll_deltas(reinterpret_cast<GdkEvent*>(event), &dx, &dy) && dy != 0
                              ? (dy < 0 ? +1 : -1)
                              : 0;
    step_velocity(index(row, beat), direction, false);
    return direction != 0;
}

// The focus walks from box to box as it did between check buttons: the
// arrows within the grid, Tab row by row; past an edge it leaves the grid.
bool NoteGrid::on_focus(Gtk::DirectionType direction) {
    if (rows * beats == 0)
        return false;
    if (!has_focus()) {
        if (direction == Gtk::DIR_TAB_FORWARD)
            focus = 0;
        else if (direction == Gtk::DIR_TAB_BACKWARD)
            focus = rows * beats - 1;
        grab_focus();
        return true;
    }
    const uint64_t row = focus / beats, beat = focus % beats;
    uint64_t to = none;
    switch (direction) {
    case Gtk::DIR_TAB_FORWARD: if (focus + 1 < rows * beats) to = focus + 1; break;
    case Gtk::DIR_TAB_BACKWARD: if (focus > 0) to = focus - 1; break;
    case Gtk::DIR_LEFT: if (beat > 0) to = focus - 1; break;
    case Gtk::DIR_RIGHT: if (beat + 1 < beats) to = focus + 1; break;
    case Gtk::DIR_UP: if (row > 0) to = focus - beats; break;
    case Gtk::DIR_DOWN: if (row + 1 < rows) to = focus + beats; break;
    }
    if (to == none)
        return false;   // past the edge: the focus leaves the grid
    move_focus(to);
    return true;
}

bool NoteGrid::on_focus_in_event(GdkEventFocus* event) {
    redraw(focus);
    notify_state(focus, ATK_STATE_FOCUSED, true);
    return Gtk::DrawingArea::on_focus_in_event(event);
}

bool NoteGrid::on_focus_out_event(GdkEventFocus* event) {
    redraw(focus);
    notify_state(focus, ATK_STATE_FOCUSED, false);
    return Gtk::DrawingArea::on_focus_out_event(event);
}

}  // namespace stepmill
