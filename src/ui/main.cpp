// The program: opens the MIDI output device named on the command line before
// any window exists, then runs the main window until it closes.
#include "main_window.h"
#include "program.h"
#include "texts.h"

#include <glib-unix.h>
#include <glibmm/error.h>
#include <glibmm/main.h>
#include <gtkmm/application.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

// SIGINT, SIGTERM and SIGHUP come to the main loop as events: the window
// keeps unsaved changes for the next start, and the program ends by the one
// road every ending takes.
gboolean on_signal(gpointer window)
{
    static_cast<stepmill::MainWindow*>(window)->on_terminate();
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace stepmill;

    if (argc < 2) {
        std::cout << texts::usage_prefix << argv[0] << texts::usage_suffix << std::endl;
        list_midi_out_devices(std::cout);
        return 0;
    }
    // Help needs no device, so it is answered before one is opened.
    if (std::strcmp(argv[1], texts::help_long) == 0 || std::strcmp(argv[1], texts::help_short) == 0) {
        std::cout << texts::usage_prefix << argv[0] << texts::usage_suffix << std::endl
                  << texts::help_text << std::endl;
        return 0;
    }

    midi_out.reset(create_midi_out());
    if (!midi_out) {
        error_hook();
        std::cerr << texts::allocate_failed << std::endl;
        return 1;
    }
    const char* name = nullptr;
    unsigned id = 0;
    parse_device_arg(name, id, argv[1]);
    if (!(name ? midi_out->open(name) : midi_out->open(id))) {
        error_hook();
        std::cerr << argv[1] << ": " << texts::open_failed << std::endl;
        std::exit(1);
    }
    prepare_toolkit();
    // Non-unique: a second program (on another device, with another song)
    // must run its own window instead of handing its command line to the first.
    Glib::RefPtr<Gtk::Application> application =
        Gtk::Application::create(argc, argv, "org.stepmill.Stepmill",
                                 Gio::APPLICATION_HANDLES_COMMAND_LINE | Gio::APPLICATION_NON_UNIQUE);
    application->add_main_option_entry(Gio::Application::OPTION_TYPE_BOOL, texts::version_name,
                                       texts::version_short, texts::version_description,
                                       texts::version_arg, 0);

    int status = 0;
    {
        MainWindow window(argc, argv, application);
        // The toolkit reports a bad option and then still serves the main loop
        // for the window it holds; an option handler that never ran means
        // exactly that, and the program ends with status 1 at once.
        bool options_handled = false;
        application->signal_handle_local_options().connect(
            [&window, &options_handled](const Glib::RefPtr<Glib::VariantDict>& options) {
                options_handled = true;
                return window.on_handle_local_options(options);
            });
        Glib::signal_idle().connect_once([&application, &options_handled] {
            if (!options_handled)
                application->quit();
        });
        application->signal_command_line().connect(sigc::mem_fun(window, &MainWindow::on_cmdline));
        // glibmm reports a failed registration by throwing.
        try {
            application->register_application();
        } catch (const Glib::Error& error) {
            std::cerr << error.what() << std::endl;
            std::exit(1);
        }
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            g_unix_signal_add(signal, on_signal, &window);
        application->add_window(window);
        window.show();
        status = application->run();
        if (!options_handled)
            status = 1;
    }
    // The last messages (the display's reset) go out before the port closes.
    midi_out->close();
    return status;
}
