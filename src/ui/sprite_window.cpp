#include "sprite_window.h"


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
    get_content_area()->add(beats_box);
    note_grid.signal_toggled().connect(sigc::mem_fun(*this, &SpriteWindow::on_note_toggled));
    note_grid.set_hexpand(true);
    note_grid.set_vexpand(true);
    // Column 1 stays empty, as the labels' neighbour in the layout; the boxes
    // span every row, which are all of one height so they meet the labels.
    grid.set_row_spacing(0);
    grid.set_row_homogeneous(true);
    grid.attach(note_grid, 2, 0, 1, static_cast<int>(drum_note_count));
    for (uint64_t r = 0; r < drum_note_count; ++r) {
        auto label = std::make_unique<Gtk::Label>(drum_note_table[r].name);
        label->set_hexpand(true);
        label->set_vexpand(true);
        grid.attach(*label, 0, static_cast<int>(r), 1, 1);
        row_labels.push_back(std::move(label));
    }
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

// The dialog's own handler has already answered with the delete response,
// which hid the editor; returning true keeps it from being destroyed.
bool SpriteWindow::on_delete_event(GdkEventAny*) { return true; }

void SpriteWindow::build_grid() {
    const Sprite& sprite = document.song().sprites[index];
    note_grid.set_beats(sprite.beats);
    // Quietly: building makes no sound.
    for (uint64_t r = 0; r < drum_note_count; ++r)
        for (uint64_t b = 0; b < sprite.beats; ++b)
            note_grid.set_active_quietly(r, b, sprite.notes[b].test(drum_note_table[r].note));
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
    if (change.sprite != index || (change.kind != Kind::note && change.kind != Kind::beats))
        return;
    const Sprite& sprite = document.song().sprites[index];
    if (change.kind == Kind::beats) {
        beats_spin.set_value(static_cast<double>(sprite.beats));
        build_grid();
        return;
    }
    for (uint64_t r = 0; r < drum_note_count; ++r)
        if (drum_note_table[r].note == change.note && change.beat < note_grid.beat_count())
            note_grid.set_active_quietly(r, change.beat, sprite.notes[change.beat].test(change.note));
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
