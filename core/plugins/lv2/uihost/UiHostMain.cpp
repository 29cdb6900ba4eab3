// A plug-in interface in a process of its own: the toolkit's loop runs here, so interfaces
// written for GTK 2 (and X11 or Qt 5 ones, through suil's wrappers) show without sharing the
// program's Qt, and an interface that crashes takes only this process with it. Built a second
// time against GTK 3, as HalvoraUiHostGtk3, for interfaces written for GTK 3: one process
// cannot hold both toolkits.
//
// Usage: HalvoraUiHost PLUGIN-URI UI-URI UI-TYPE-URI BUNDLE-PATH BINARY-PATH TITLE
//
// Standard input, one request a line: "PORT <symbol> <index>" lines name the control ports,
// then "SHOW" opens the window; afterwards "VALUE <index> <value>" shows a value set
// elsewhere, "ATOM <index> <hex>" hands the interface an atom the plug-in wrote and "CLOSE"
// ends. Standard output: "OPEN <x11-window>" once shown (or "ERR <reason>" and exit status 1),
// "VALUE <index> <value>" for each control the user moves, "ATOM <index> <hex>" for each atom
// the interface writes, "CLOSED" when the user closes the window. End of input ends the
// process too, so it never outlives whoever started it.
//
// Names in atoms are numbers (URIDs), and this process numbers them its own way: "URID
// <number> <name>" says which number a side gives a name, before the first atom that holds it,
// and each side puts its own numbers in what it receives.

#include "core/plugins/lv2/Lv2UiProtocol.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <csignal>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <lv2/atom/atom.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>
#include <suil/suil.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

using orvane::lv2::UiMessage;

#ifdef HALVORA_UI_HOST_GTK3
constexpr const char *containerType = LV2_UI__Gtk3UI;
#else
constexpr const char *containerType = LV2_UI__GtkUI;
#endif

struct Host {
    std::map<std::string, uint32_t> portsBySymbol;
    std::vector<std::string> uris;
    std::map<std::string, LV2_URID> urids;
    /// The program's number for a name, to this process's.
    std::map<uint32_t, LV2_URID> programNumbers;
    LV2_URID eventTransfer = 0;
    SuilHost *suilHost = nullptr;
    SuilInstance *instance = nullptr;
    const LV2UI_Idle_Interface *idleInterface = nullptr;
    GtkWidget *window = nullptr;
    std::string pending;
    bool quitting = false;
};

void say(const std::string &line) {
    const std::string text = line + "\n";
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = write(STDOUT_FILENO, text.data() + written, text.size() - written);
        if (count <= 0) _exit(0); // nobody listens any more
        written += static_cast<size_t>(count);
    }
}

LV2_URID mapUri(LV2_URID_Map_Handle handle, const char *uri) {
    auto &host = *static_cast<Host *>(handle);
    auto [found, added] = host.urids.try_emplace(uri, static_cast<LV2_URID>(host.uris.size() + 1));
    if (added) {
        host.uris.emplace_back(uri);
        // Told at once, so that the name always goes ahead of any atom holding it.
        say(orvane::lv2::formatUiUrid(found->second, uri));
    }
    return found->second;
}

LV2_URID mapUri(Host &host, const std::string &uri) { return mapUri(&host, uri.c_str()); }

const char *unmapUri(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
    auto &host = *static_cast<Host *>(handle);
    return urid >= 1 && urid <= host.uris.size() ? host.uris[urid - 1].c_str() : nullptr;
}

// Control values and atoms cross the pipe; other protocols stay in the interface.
void writeFromUi(SuilController controller, uint32_t port, uint32_t size, uint32_t protocol,
                 const void *buffer) {
    const auto &host = *static_cast<Host *>(controller);
    if (protocol != 0 && protocol == host.eventTransfer) {
        if (size >= sizeof(LV2_Atom) && size <= orvane::lv2::largestUiAtom &&
            static_cast<const LV2_Atom *>(buffer)->size == size - sizeof(LV2_Atom))
            say(orvane::lv2::formatUiAtom(port, buffer, size));
        return;
    }
    if (protocol != 0 || size != sizeof(float)) return;
    say(orvane::lv2::formatUiValue(port, *static_cast<const float *>(buffer)));
}

/// The atom in this process's numbers; false when it names what the program never said.
bool toOwnNumbers(Host &host, std::vector<uint8_t> &atom) {
    const auto types =
        orvane::lv2::atomTypeIds([&host](const char *uri) { return mapUri(&host, uri); });
    return orvane::lv2::translateAtomUrids(
        atom.data(), atom.size(),
        [&host](uint32_t number) {
            const auto found = host.programNumbers.find(number);
            return found == host.programNumbers.end() ? 0u : found->second;
        },
        types);
}

uint32_t portIndexOf(SuilController controller, const char *symbol) {
    auto &host = *static_cast<Host *>(controller);
    auto found = host.portsBySymbol.find(symbol);
    return found == host.portsBySymbol.end() ? LV2UI_INVALID_PORT_INDEX : found->second;
}

void quit(Host &host) {
    if (host.quitting) return;
    host.quitting = true;
    gtk_main_quit();
}

gboolean closedByUser(GtkWidget *, GdkEvent *, gpointer data) {
    say("CLOSED");
    quit(*static_cast<Host *>(data));
    return TRUE;
}

gboolean idle(gpointer data) {
    auto &host = *static_cast<Host *>(data);
    if (host.idleInterface && host.instance &&
        host.idleInterface->idle(suil_instance_get_handle(host.instance)) != 0) {
        say("CLOSED");
        quit(host);
        return FALSE;
    }
    return TRUE;
}

void handle(Host &host, const std::string &line) {
    UiMessage message;
    if (!orvane::lv2::parseUiMessage(line, message)) return;
    if (message.kind == UiMessage::Kind::close) quit(host);
    if (message.kind == UiMessage::Kind::value && host.instance)
        suil_instance_port_event(host.instance, message.port, sizeof message.value, 0,
                                 &message.value);
    if (message.kind == UiMessage::Kind::urid)
        host.programNumbers[message.urid] = mapUri(host, message.symbol);
    if (message.kind == UiMessage::Kind::atom && host.instance && toOwnNumbers(host, message.atom))
        suil_instance_port_event(host.instance, message.port,
                                 static_cast<uint32_t>(message.atom.size()), host.eventTransfer,
                                 message.atom.data());
}

gboolean requestsArrived(GIOChannel *, GIOCondition, gpointer data) {
    auto &host = *static_cast<Host *>(data);
    char buffer[4096];
    const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        quit(host);
        return FALSE;
    }
    host.pending.append(buffer, static_cast<size_t>(count));
    for (size_t end; (end = host.pending.find('\n')) != std::string::npos;) {
        handle(host, host.pending.substr(0, end));
        host.pending.erase(0, end + 1);
    }
    return TRUE;
}

/// Reads the port names up to "SHOW"; false when the input ended first.
bool readPorts(Host &host) {
    // A byte at a time, so that nothing after "SHOW" is read ahead of the window's loop.
    std::string line;
    for (char character; read(STDIN_FILENO, &character, 1) == 1;) {
        if (character != '\n') {
            line.push_back(character);
            continue;
        }
        UiMessage message;
        if (orvane::lv2::parseUiMessage(line, message)) {
            if (message.kind == UiMessage::Kind::show) return true;
            if (message.kind == UiMessage::Kind::port)
                host.portsBySymbol[message.symbol] = message.port;
        }
        line.clear();
    }
    return false;
}

} // namespace

int main(int argc, char **argv) {
    // Whoever started it may go without a word: this process goes too.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (argc != 7) {
        std::fprintf(stderr, "usage: HalvoraUiHost PLUGIN UI UI-TYPE BUNDLE BINARY TITLE\n");
        return 2;
    }
    const char *pluginUri = argv[1], *uiUri = argv[2], *uiType = argv[3], *bundle = argv[4],
               *binary = argv[5], *title = argv[6];
    Host host;
    if (!readPorts(host)) return 0;
    if (!gtk_init_check(&argc, &argv)) {
        say("ERR no display");
        return 1;
    }
    LV2_URID_Map map{&host, &mapUri};
    LV2_URID_Unmap unmap{&host, &unmapUri};
    LV2_Feature mapFeature{LV2_URID__map, &map}, unmapFeature{LV2_URID__unmap, &unmap},
        residentFeature{LV2_UI_PREFIX "makeResident", nullptr},
        idleFeature{LV2_UI__idleInterface, nullptr};
    const LV2_Feature *features[] = {&mapFeature, &unmapFeature, &residentFeature, &idleFeature,
                                     nullptr};
    host.eventTransfer = mapUri(host, LV2_ATOM__eventTransfer);
    host.suilHost = suil_host_new(&writeFromUi, &portIndexOf, nullptr, nullptr);
    host.instance = suil_instance_new(host.suilHost, &host, containerType, pluginUri, uiUri, uiType,
                                      bundle, binary, features);
    if (!host.instance) {
        say("ERR the plug-in's interface did not start");
        return 1;
    }
    host.idleInterface = static_cast<const LV2UI_Idle_Interface *>(
        suil_instance_extension_data(host.instance, LV2_UI__idleInterface));
    host.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(host.window), title);
    gtk_container_add(GTK_CONTAINER(host.window),
                      static_cast<GtkWidget *>(suil_instance_get_widget(host.instance)));
    g_signal_connect(host.window, "delete-event", G_CALLBACK(closedByUser), &host);
    gtk_widget_show_all(host.window);
    // Values sent before showing reach the interface as it starts.
    GIOChannel *input = g_io_channel_unix_new(STDIN_FILENO);
    g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                   &requestsArrived, &host);
    g_timeout_add(30, &idle, &host);
    gdk_display_sync(gdk_display_get_default());
    say("OPEN " + std::to_string(GDK_WINDOW_XID(gtk_widget_get_window(host.window))));
    gtk_main();
    // Leaving without tearing the interface down or running exit handlers: some interfaces
    // crash in their own destructors, and the toolkits keep caches until exit that a leak
    // checker would count; the process ends here anyway.
    _exit(0);
}
