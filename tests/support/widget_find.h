// Finding a window's widgets as a user finds them, by kind and by what they
// show, for tests and benchmarks that work the window from outside.
#pragma once

#include <gtkmm/container.h>

#include <functional>
#include <vector>

namespace stepmill_test {

// Every widget of type W under `root`, internal children included, in order.
template <class W>
std::vector<W*> find_all(Gtk::Widget& root, const std::function<bool(W&)>& match = nullptr)
{
    std::vector<W*> found;
    std::function<void(Gtk::Widget&)> walk = [&](Gtk::Widget& w) {
        if (auto* hit = dynamic_cast<W*>(&w); hit && (!match || match(*hit)))
            found.push_back(hit);
        if (auto* container = dynamic_cast<Gtk::Container*>(&w))
            container->forall([&](Gtk::Widget& child) { walk(child); });
    };
    walk(root);
    return found;
}

}  // namespace stepmill_test
