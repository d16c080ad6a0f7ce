// Build step, run on the build machine: writes the dialog templates of app/DialogTemplate.h as
// resource-script statements for windres, so that the Win32 dialog and the Qt dialog come from
// one table, and the shared icon drawing as an icon file.
// Usage: kestrel-make-rc OUT.rc OUT.ico
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/AppIconArt.h"
#include "app/DialogTemplate.h"

namespace {

std::string Quoted(const char* text) {
    std::string out = "\"";
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '"') out += '"';  // a quote inside a resource string is doubled
        out += *p;
    }
    return out + "\"";
}

std::string Styles(const ControlTemplate& row) {
    std::string s;
    auto add = [&s](const char* style) {
        if (!s.empty()) s += " | ";
        s += style;
    };
    switch (row.kind) {
        case ControlKind::PushButton:
            add((row.style & kDefault) != 0 ? "BS_DEFPUSHBUTTON" : "BS_PUSHBUTTON");
            break;
        case ControlKind::GroupBox:
            add("BS_GROUPBOX");
            break;
        case ControlKind::Radio:
            add("BS_AUTORADIOBUTTON");
            break;
        case ControlKind::Edit:
            add((row.style & kAlignRight) != 0    ? "ES_RIGHT"
                : (row.style & kAlignCentre) != 0 ? "ES_CENTER"
                                                  : "ES_LEFT");
            if ((row.style & kAutoHScroll) != 0) add("ES_AUTOHSCROLL");
            if ((row.style & kReadOnly) != 0) add("ES_READONLY");
            break;
        case ControlKind::Static:
            add("SS_LEFT");
            break;
        case ControlKind::Icon:
            add("SS_ICON");
            break;
        case ControlKind::ProgressBar:
            if ((row.style & kSmooth) != 0) add("PBS_SMOOTH");
            break;
    }
    if ((row.style & kBorder) != 0) add("WS_BORDER");
    if ((row.style & kStartsGroup) != 0) add("WS_GROUP");
    if ((row.style & kTabStop) != 0) add("WS_TABSTOP");
    return s;
}

const char* WindowClass(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
        case ControlKind::GroupBox:
        case ControlKind::Radio:
            return "\"Button\"";
        case ControlKind::Edit:
            return "\"Edit\"";
        case ControlKind::Static:
        case ControlKind::Icon:
            return "\"Static\"";
        case ControlKind::ProgressBar:
            return "\"msctls_progress32\"";
    }
    return "\"Static\"";
}

void WriteDialog(std::FILE* out, const DialogTemplate& dlg) {
    std::fprintf(out, "%d DIALOGEX 0, 0, %d, %d\n", dlg.resourceId, dlg.size.w, dlg.size.h);
    std::fprintf(out, "STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU\n");
    if (dlg.appWindow) std::fprintf(out, "EXSTYLE WS_EX_APPWINDOW\n");
    std::fprintf(out, "CAPTION %s\n", Quoted(dlg.caption).c_str());
    std::fprintf(out, "FONT %d, %s, 0, 0, 0x1\nBEGIN\n", dlg.pointSize,
                 Quoted(dlg.fontName).c_str());
    for (const ControlTemplate& row : dlg.controls) {
        // An icon static names its icon resource in place of a text.
        const std::string text =
            row.kind == ControlKind::Icon ? std::to_string(IDR_MAINFRAME) : Quoted(row.text);
        std::fprintf(out, "    CONTROL %s, %d, %s, %s, %d, %d, %d, %d\n", text.c_str(), row.id,
                     WindowClass(row.kind), Styles(row).c_str(), row.dlu.x, row.dlu.y, row.dlu.w,
                     row.dlu.h);
    }
    std::fprintf(out, "END\n\n");
}

// The icon sizes the shell and the dialog ask for.
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 256};

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// One icon image: a 32-bit DIB (bottom-up, height doubled for the mask) and its AND mask.
std::vector<std::uint8_t> IconImage(int size) {
    const std::vector<std::uint32_t> argb = RenderAppIconArgb(size);
    const auto n = static_cast<std::uint32_t>(size);
    std::vector<std::uint8_t> out;
    Put32(out, 40);
    Put32(out, n);
    Put32(out, 2 * n);
    Put16(out, 1);
    Put16(out, 32);
    for (int i = 0; i < 6; ++i) Put32(out, 0);
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) Put32(out, argb[static_cast<std::size_t>(y * size + x)]);
    }
    const std::uint32_t maskStride = (n + 31) / 32 * 4;
    for (int y = size - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(maskStride, 0);
        for (int x = 0; x < size; ++x) {
            if ((argb[static_cast<std::size_t>(y * size + x)] >> 24) < 0x80) {
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

bool WriteIcon(const char* path) {
    std::vector<std::uint8_t> directory;
    std::vector<std::uint8_t> images;
    constexpr std::uint32_t kCount = std::size(kIconSizes);
    Put16(directory, 0);
    Put16(directory, 1);
    Put16(directory, kCount);
    std::uint32_t offset = 6 + 16 * kCount;
    for (const int size : kIconSizes) {
        const std::vector<std::uint8_t> image = IconImage(size);
        const auto side = static_cast<std::uint8_t>(size >= 256 ? 0 : size);
        directory.push_back(side);
        directory.push_back(side);
        directory.push_back(0);
        directory.push_back(0);
        Put16(directory, 1);
        Put16(directory, 32);
        Put32(directory, static_cast<std::uint32_t>(image.size()));
        Put32(directory, offset);
        offset += static_cast<std::uint32_t>(image.size());
        images.insert(images.end(), image.begin(), image.end());
    }
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) return false;
    bool ok = std::fwrite(directory.data(), 1, directory.size(), out) == directory.size();
    ok = std::fwrite(images.data(), 1, images.size(), out) == images.size() && ok;
    return std::fclose(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUT.rc OUT.ico\n", argv[0]);
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(
        out, "// Generated from app/DialogTemplate.h; do not edit.\n#pragma code_page(65001)\n");
    WriteDialog(out, kUpgradeDlgTemplate);
    WriteDialog(out, kAboutDlgTemplate);
    std::fprintf(out, "STRINGTABLE\nBEGIN\n    %d, %s\nEND\n", IDS_ABOUTBOX,
                 Quoted(kAboutItemText).c_str());
    if (std::fclose(out) != 0 || !WriteIcon(argv[2])) {
        std::fprintf(stderr, "%s: cannot write the resources\n", argv[0]);
        return 1;
    }
    return 0;
}
