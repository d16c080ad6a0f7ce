// The attack on a program that carries a capability: a "platform plugin" that a user points
// Qt at with QT_QPA_PLATFORM_PLUGIN_PATH. Qt loads it before any window exists; its library
// constructor writes the process's effective capabilities (the CapEff line of
// /proc/self/status) to the file KESTREL_CAPEFF_OUT names. It is no platform at all: Qt gives
// up on it right after loading it, which is all the attack needs.
#include <QObject>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

[[gnu::constructor]] void WriteCapEff() {
    const char* out = std::getenv("KESTREL_CAPEFF_OUT");
    if (out == nullptr) return;
    std::ifstream status("/proc/self/status");
    std::ofstream file(out);
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("CapEff:")) file << line << '\n';
}

}  // namespace

class CapEffPlugin : public QObject {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3" FILE
                      "capeff-plugin.json")
};

#include "CapEffPlugin.moc"
