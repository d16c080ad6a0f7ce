#pragma once
// The dialog templates, written once: the main dialog (102) and the About box (100), with
// every control's ID, kind, text, styles, rectangle in dialog units and, for a label, the box it
// names, in tab order. The Qt front end builds both dialogs' widgets from these tables in one
// place (app/qt/TemplateWidgets); the Win32 front end's resource script is generated from them
// at build time, so both show the same dialog.

#include <array>
#include <span>

#include "app/ControlIds.h"
#include "app/DialogUnits.h"

enum class ControlKind { PushButton, GroupBox, Edit, Static, Icon, ProgressBar, Radio };

// Control styles that the templates use; each front end maps them onto its toolkit.
enum ControlStyle : unsigned {
    kStyleNone = 0,
    kTabStop = 1u << 0,
    kBorder = 1u << 1,
    kReadOnly = 1u << 2,
    kAlignRight = 1u << 3,
    kAlignCentre = 1u << 4,
    kStartsGroup = 1u << 5,
    kAutoHScroll = 1u << 6,  // an edit box scrolls its text instead of refusing more
    kSmooth = 1u << 7,       // a progress bar fills continuously, not in blocks
    kDefault = 1u << 8,      // the default push button
};

inline constexpr int kNoId = -1;

struct ControlTemplate {
    int id;  // kNoId for the controls nobody addresses
    ControlKind kind;
    const char* text;  // UTF-8
    unsigned style;
    DluRect dlu;
    int labelFor = kNoId;  // a static: the control it names (for assistive technology)
};

struct DialogTemplate {
    int resourceId;
    const char* caption;  // UTF-8
    DluRect size;         // only w and h count
    const char* fontName;
    int pointSize;
    bool appWindow;  // shown on the taskbar
    std::span<const ControlTemplate> controls;
};

inline constexpr int IDD_UPGRADE_DIALOG = 102;
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDR_MAINFRAME = 128;       // the application icon
inline constexpr int IDS_ABOUTBOX = 101;        // the system menu's About item
inline constexpr unsigned IDM_ABOUTBOX = 0x10;  // its command
inline constexpr int IDOK_ABOUT = 1;

inline constexpr char kDialogFontName[] = "宋体";
inline constexpr int kDialogFontPoints = 9;
inline constexpr char kAboutItemText[] = "关于 Kestrel(&A)...";

inline constexpr std::array<ControlTemplate, 15> kUpgradeDlgControls{{
    {IDC_CANCEL_UPGRADE, ControlKind::PushButton, "Cancel", kTabStop, {241, 155, 77, 18}},
    {kNoId, ControlKind::GroupBox, "", kStyleNone, {23, 19, 351, 233}},
    {IDC_UPGRADE, ControlKind::PushButton, "Upgrade", kTabStop, {92, 155, 77, 18}},
    {IDC_PROGRAM_FILE,
     ControlKind::Edit,
     "",
     kBorder | kAutoHScroll | kTabStop,
     {116, 53, 162, 13}},
    {kNoId, ControlKind::Static, "Program File", kStyleNone, {59, 55, 52, 10}, IDC_PROGRAM_FILE},
    {IDC_BROWSE, ControlKind::PushButton, "Browse", kTabStop, {286, 50, 48, 18}},
    {IDC_PROGRESS, ControlKind::ProgressBar, "", kSmooth | kBorder, {67, 131, 273, 10}},
    {IDC_SPACE,
     ControlKind::Edit,
     "",
     kReadOnly | kAlignRight | kAutoHScroll | kTabStop,
     {245, 110, 92, 13}},
    {IDC_BIN, ControlKind::Radio, "BIN", kStartsGroup, {140, 78, 47, 11}},
    {IDC_HEX, ControlKind::Radio, "HEX", kStyleNone, {217, 78, 47, 11}},
    {IDC_GEN_BIN, ControlKind::PushButton, "Generate Bin File", kTabStop, {92, 197, 226, 18}},
    {kNoId, ControlKind::GroupBox, "", kStyleNone, {51, 96, 306, 90}},
    {kNoId, ControlKind::Static, "Channel", kStyleNone, {69, 110, 31, 10}, IDC_CHANNEL},
    {IDC_CHANNEL,
     ControlKind::Edit,
     "",
     kBorder | kAlignCentre | kAutoHScroll | kTabStop,
     {106, 108, 45, 13}},
    {IDC_GEN_BODY, ControlKind::PushButton, "Generate Body File", kTabStop, {92, 222, 226, 18}},
}};

inline constexpr DialogTemplate kUpgradeDlgTemplate{IDD_UPGRADE_DIALOG, "VANTO Upgrade V2.3",
                                                    {0, 0, 396, 282},   kDialogFontName,
                                                    kDialogFontPoints,  true,
                                                    kUpgradeDlgControls};

// The icon static takes the size of the icon it shows; its rectangle gives only the position.
inline constexpr std::array<ControlTemplate, 4> kAboutDlgControls{{
    {kNoId, ControlKind::Icon, "", kStyleNone, {11, 17, 20, 20}},
    {kNoId, ControlKind::Static, "Kestrel 1.0 版", kStyleNone, {40, 10, 119, 8}},
    {kNoId, ControlKind::Static, "版权所有 (C) 2026 Kestrel", kStyleNone, {40, 25, 119, 8}},
    {IDOK_ABOUT,
     ControlKind::PushButton,
     "确定",
     kDefault | kStartsGroup | kTabStop,
     {178, 7, 50, 14}},
}};

inline constexpr DialogTemplate kAboutDlgTemplate{
    IDD_ABOUTBOX,      "关于 Kestrel", {0, 0, 235, 55},  kDialogFontName,
    kDialogFontPoints, false,          kAboutDlgControls};
