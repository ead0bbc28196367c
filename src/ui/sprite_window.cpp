#include "sprite_window.h"

#include "main_window.h"
#include "program.h"


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

SpriteWindow::SpriteWindow(uint64_t index, Sprite& sprite, const Glib::ustring& title,
                           MainWindow& main_window)
    : Gtk::Dialog(title, main_window, false),
      index(index),
      main_window(main_window),
      sprite(&sprite),
      beats_label("ビート数"),
      beats_spin(0.0, 0),
      beats_box(Gtk::ORIENTATION_HORIZONTAL, 0),
      note_grid(drum_note_count, note_button_name) {
    beats_spin.set_wrap(false);
    beats_spin.set_range(1.0, 32.0);
    beats_spin.set_increments(1.0, 4.0);
    beats_spin.set_value(static_cast<double>(sprite.beats));
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
    build_grid();
    get_content_area()->add(grid);

    for (auto [text, id] : {std::pair<const char*, int>{"再生/停止(_P)", response_play_stop},
                            {"_Apply", Gtk::RESPONSE_APPLY},
                            {"_Close", Gtk::RESPONSE_CLOSE}}) {
        Gtk::Button* button = add_button(text, id);
        button->set_use_underline(true);
    }
    show_all_children(true);
    if (!rows.empty() && !rows[0]->buttons.empty())
        rows[0]->buttons[0]->grab_focus();
}

SpriteWindow::~SpriteWindow() { clear_grid(); }

void SpriteWindow::on_realize() { Gtk::Dialog::on_realize(); }

void SpriteWindow::on_unrealize() { Gtk::Dialog::on_unrealize(); }

// The dialog's own handler has already answered with the delete response,
// which hid the editor; returning true keeps it from being destroyed.
bool SpriteWindow::on_delete_event(GdkEventAny*) { return true; }

void SpriteWindow::build_grid() {
    clear_grid();
    rows.resize(drum_note_count);
    uint64_t beats = sprite->beats;
    note_grid.set_beats(beats);
    for (uint64_t r = 0; r < drum_note_count; ++r) {
        const DrumNote& e = drum_note_table[r];
        NoteRow* row = new NoteRow;
        rows[r] = row;
        row->label.set_text(e.name);
        row->label.set_hexpand(true);
        row->label.set_vexpand(true);
        grid.attach(row->label, 0, static_cast<int>(r), 1, 1);
        row->buttons.resize(beats);
        for (uint64_t b = 0; b < beats; ++b) {
            row->buttons[b] = new NoteCell(note_grid, r, b);
            // Quietly: building makes no sound.
            note_grid.set_active_quietly(r, b, sprite->notes[b].test(e.note));
        }
    }
}

void SpriteWindow::clear_grid() {
    for (NoteRow* row : rows) {
        grid.remove(row->label);
        for (NoteCell* button : row->buttons)
            delete button;
        delete row;
    }
    rows.clear();
}

void SpriteWindow::on_note_toggled(uint64_t row, uint64_t beat) {
    NoteCell* button = rows[row]->buttons[beat];
    uint8_t note = drum_note_table[row].note;
    if (button->get_active()) {
        if (midi_out && midi_out->is_opened())
            note_on(*midi_out, main_window.player.channel, note, main_window.player.velocity);
        sprite->notes[beat].set(note);
    } else {
        sprite->notes[beat].reset(note);
    }
    main_window.player.update(*sprite->song);
    uint64_t next = beat + 1 < rows[row]->buttons.size() ? beat + 1 : beat;
    rows[row]->buttons[next]->grab_focus();
}

void SpriteWindow::on_response(int id) {
    Gtk::Dialog::on_response(id);
    switch (id) {
    case Gtk::RESPONSE_DELETE_EVENT:
    case Gtk::RESPONSE_CLOSE:
        hide();
        main_window.present();
        break;
    case Gtk::RESPONSE_APPLY:
        sprite->set_beats(static_cast<uint64_t>(beats_spin.get_value()));
        main_window.player.update(*sprite->song);
        build_grid();
        show_all_children(true);
        break;
    case response_play_stop:
        if (main_window.player.is_playing())
            main_window.player.stop();
        else
            main_window.player.start_sprite(*sprite->song, index);
        break;
    default:
        break;
    }
}

}  // namespace stepmill
