#include "sprite_window.h"

#include "texts.h"

#include <gtkmm/cssprovider.h>

namespace stepmill {

const DrumNote drum_note_table[34] = {
    {35, "アコースティック・バス・ドラム1"},
    {36, "アコースティック・バス・ドラム2"},
    {37, "リムショット"},
    {38, "アコースティック・スネア・ドラム"},
    {39, "ハンド・クラップ"},
    {40, "エレクトロニック・スネア・ドラム"},
    {41, "アコースティック・ロー・タム1"},
    {43, "アコースティック・ロー・タム2"},
    {42, "クローズド・ハイハット"},
    {44, "オープン・ハイハット2"},
    {45, "アコースティック・ミッド・タム1"},
    {47, "アコースティック・ミッド・タム2"},
    {46, "オープン・ハイハット1"},
    {48, "アコースティック・ハイ・タム1"},
    {50, "アコースティック・ハイ・タム2"},
    {49, "クラッシュ・シンバル"},
    {51, "ライド・シンバル"},
    {54, "タンバリン"},
    {56, "カウベル"},
    {60, "ハイ・ボンゴ"},
    {61, "ロー・ボンゴ"},
    {62, "ミュート・ハイ・コンガ"},
    {63, "ハイ・コンガ"},
    {64, "ロー・コンガ"},
    {65, "ハイ・ティンバル"},
    {66, "ロー・ティンバル"},
    {67, "ハイ・アゴゴ"},
    {68, "ロー・アゴゴ"},
    {69, "カバサ"},
    {70, "マラカス"},
    {71, "ショート・ホイッスル"},
    {72, "ロング・ホイッスル"},
    {73, "キハダ"},
    {75, "クラペス"},
};

Glib::ustring note_button_name(uint64_t row, uint64_t beat) {
    return Glib::ustring(drum_note_table[row].name) + " " + Glib::ustring::format(beat + 1);
}

SpriteWindow::SpriteWindow(uint64_t index, Document& document, const Glib::ustring& title, Gtk::Window& parent)
    : Gtk::Dialog(title, parent, false),
      index(index),
      document(document),
      beats_label("ビート数"),
      beats_spin(0.0, 0),
      beats_box(Gtk::ORIENTATION_HORIZONTAL, 0),
      note_grid(drum_note_count, note_button_name) {
    beats_spin.set_wrap(false);
    beats_spin.set_range(1.0, 32.0);
    beats_spin.set_increments(1.0, 4.0);
    beats_spin.set_value(static_cast<double>(document.song().sprites[index].beats));
    beats_box.pack_start(beats_label, Gtk::PACK_SHRINK, 0);
    beats_box.pack_start(beats_spin, Gtk::PACK_SHRINK, 0);
    color_button.set_title(texts::color_title);
    color_button.set_tooltip_text(texts::color_title);
    show_color();
    color_button.signal_color_set().connect(sigc::mem_fun(*this, &SpriteWindow::on_color_set));
    beats_box.pack_end(color_button, Gtk::PACK_SHRINK, 0);
    get_content_area()->add(beats_box);
    note_grid.signal_toggled().connect(sigc::mem_fun(*this, &SpriteWindow::on_note_toggled));
    note_grid.signal_velocity_changed().connect([this](uint64_t row, uint64_t beat, uint8_t velocity) {
        this->document.set_velocity(this->index, beat, drum_note_table[row].note, velocity);
    });
    note_grid.set_hexpand(true);
    note_grid.set_vexpand(true);
    // Column 1 holds each row's mute and solo; the boxes span every row,
    // which are all of one height so they meet the labels.
    grid.set_row_spacing(0);
    grid.set_row_homogeneous(true);
    grid.attach(note_grid, 2, 0, 1, static_cast<int>(drum_note_count));
    for (uint64_t r = 0; r < drum_note_count; ++r) {
        auto row = std::make_unique<DrumRow>(drum_note_table[r]);
        row->label.set_hexpand(true);
        row->label.set_vexpand(true);
        grid.attach(row->label, 0, static_cast<int>(r), 1, 1);
        grid.attach(row->switches, 1, static_cast<int>(r), 1, 1);
        row->mute.signal_toggled().connect([this, r] {
            this->document.set_mute(drum_note_table[r].note, rows[r]->mute.get_active());
        });
        row->solo.signal_toggled().connect([this, r] {
            this->document.set_solo(drum_note_table[r].note, rows[r]->solo.get_active());
        });
        rows.push_back(std::move(row));
    }
    show_mute_and_solo();
    build_grid();
    get_content_area()->add(grid);

    for (auto [text, id] : {std::pair<const char*, int>{"再生/停止(_P)", response_play_stop},
                            {"_Apply", Gtk::RESPONSE_APPLY},
                            {"_Close", Gtk::RESPONSE_CLOSE}}) {
        Gtk::Button* button = add_button(text, id);
        button->set_use_underline(true);
    }
    document_connection = document.signal_changed().connect(sigc::mem_fun(*this, &SpriteWindow::on_document_changed));
    show_all_children(true);
    if (note_grid.beat_count() > 0)
        note_grid.focus_box(0, 0);
}

SpriteWindow::~SpriteWindow() { document_connection.disconnect(); }

void SpriteWindow::retire() {
    document_connection.disconnect();
    hide();
}

// The row's switches as small as its text line, so that the rows stay as
// tall as the check boxes beside them.
const Glib::RefPtr<Gtk::CssProvider>& switch_style() {
    static const Glib::RefPtr<Gtk::CssProvider> style = [] {
        auto css = Gtk::CssProvider::create();
        try {
            css->load_from_data("button { padding: 0 4px; min-height: 0; min-width: 0; font-size: smaller; }");
        } catch (const Glib::Error&) {
            // The theme's own size then: taller rows, nothing lost.
        }
        return css;
    }();
    return style;
}

SpriteWindow::DrumRow::DrumRow(const DrumNote& drum)
    : label(drum.name), switches(Gtk::ORIENTATION_HORIZONTAL, 0), mute("M"), solo("S") {
    for (auto [button, what] : {std::pair<Gtk::ToggleButton*, const char*>{&mute, texts::mute_prefix},
                                {&solo, texts::solo_prefix}}) {
        button->get_style_context()->add_provider(switch_style(), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        button->set_valign(Gtk::ALIGN_CENTER);
        button->set_focus_on_click(false);
        button->set_tooltip_text(what + Glib::ustring(drum.name));
        button->get_accessible()->set_name(what + Glib::ustring(drum.name));
        switches.pack_start(*button, Gtk::PACK_SHRINK, 0);
    }
}

// The song's mute and solo on the rows (a button set to what the song has
// asks the document for nothing).
void SpriteWindow::show_mute_and_solo() {
    const Song& song = document.song();
    for (uint64_t r = 0; r < rows.size(); ++r) {
        rows[r]->mute.set_active(song.mute.test(drum_note_table[r].note));
        rows[r]->solo.set_active(song.solo.test(drum_note_table[r].note));
    }
}

void SpriteWindow::show_color() {
    const auto& c = document.song().sprites[index].color;
    Gdk::RGBA color;
    color.set_rgba_u(static_cast<gushort>(c[0] * 257), static_cast<gushort>(c[1] * 257),
                     static_cast<gushort>(c[2] * 257));
    color_button.set_rgba(color);
}

void SpriteWindow::on_color_set() {
    const Gdk::RGBA color = color_button.get_rgba();
    document.set_color(index, static_cast<uint8_t>(color.get_red_u() / 257),
                       static_cast<uint8_t>(color.get_green_u() / 257), static_cast<uint8_t>(color.get_blue_u() / 257));
}

void SpriteWindow::show_step(uint64_t beat) {
    note_grid.set_playing_beat(beat);
}

// The dialog's own handler has already answered with the delete response,
// which hid the editor; returning true keeps it from being destroyed.
bool SpriteWindow::on_delete_event(GdkEventAny*) { return true; }

void SpriteWindow::build_grid() {
    const Sprite& sprite = document.song().sprites[index];
    note_grid.set_beats(sprite.beats);
    // Quietly: building makes no sound.
    for (uint64_t r = 0; r < drum_note_count; ++r)
        for (uint64_t b = 0; b < sprite.beats; ++b)
            show_note(r, b);
}

void SpriteWindow::show_note(uint64_t row, uint64_t beat) {
    const Sprite& sprite = document.song().sprites[index];
    const uint8_t note = drum_note_table[row].note;
    note_grid.set_active_quietly(row, beat, sprite.notes[beat].test(note));
    note_grid.set_velocity_quietly(row, beat, sprite.velocity(beat, note));
}

void SpriteWindow::on_note_toggled(uint64_t row, uint64_t beat) {
    const uint8_t note = drum_note_table[row].note;
    const bool on = note_grid.get_active(row, beat);
    if (on)
        preview.emit(note);
    document.set_note(index, beat, note, on);
    note_grid.focus_box(row, beat + 1 < note_grid.beat_count() ? beat + 1 : beat);
}

void SpriteWindow::on_document_changed(const DocumentChange& change) {
    using Kind = DocumentChange::Kind;
    if (change.kind == Kind::mute || change.kind == Kind::solo) {
        show_mute_and_solo();
        return;
    }
    if (change.sprite != index)
        return;
    switch (change.kind) {
    case Kind::beats:
        beats_spin.set_value(static_cast<double>(document.song().sprites[index].beats));
        build_grid();
        break;
    case Kind::color:
        show_color();
        break;
    case Kind::note:
    case Kind::velocity:
        for (uint64_t r = 0; r < drum_note_count; ++r)
            if (drum_note_table[r].note == change.note && change.beat < note_grid.beat_count())
                show_note(r, change.beat);
        break;
    default:
        break;
    }
}

void SpriteWindow::on_response(int id) {
    Gtk::Dialog::on_response(id);
    switch (id) {
    case Gtk::RESPONSE_DELETE_EVENT:
    case Gtk::RESPONSE_CLOSE:
        hide();
        if (Gtk::Window* parent = get_transient_for())
            parent->present();
        break;
    case Gtk::RESPONSE_APPLY:
        document.set_beats(index, static_cast<uint64_t>(beats_spin.get_value()));
        break;
    case response_play_stop:
        play_stop.emit(index);
        break;
    default:
        break;
    }
}

}  // namespace stepmill
