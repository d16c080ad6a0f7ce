#include "app/qt/ClassicMessageBox.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QIcon>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

ClassicMessageBox::ClassicMessageBox(Icon icon, const QString& title, const QString& text,
                                     StandardButtons buttons, QWidget* parent)
    : QMessageBox(icon, title, text, buttons, parent) {
    ClearButtonIcons();
}

void ClassicMessageBox::showEvent(QShowEvent* event) {
    QMessageBox::showEvent(event);
    // Some styles add the icons only when the box is laid out for showing.
    ClearButtonIcons();
    if (windowTitle().isEmpty()) ClearX11Title();
}

void ClassicMessageBox::ClearButtonIcons() {
    for (QAbstractButton* button : buttons()) button->setIcon(QIcon());
}

void ClassicMessageBox::ClearX11Title() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) return;  // no title bar to fix elsewhere
    xcb_connection_t* connection = x11->connection();
    auto atom = [connection](const char* name) {
        const xcb_intern_atom_cookie_t cookie =
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
        const xcb_atom_t value = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return value;
    };
    const auto window = static_cast<xcb_window_t>(winId());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_NAME"),
                        atom("UTF8_STRING"), 8, 0, "");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, 0, "");
    xcb_flush(connection);
}
