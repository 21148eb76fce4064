#include "ui/WindowDescription.h"

#include "drives/SlotArray.h"

// The window is data: its rows keep their own layout.
// clang-format off
namespace {

const QString Window = QStringLiteral("Copieur");
const QString SourcePanel = QStringLiteral("vkFrame1");
const QString SlotPanel = QStringLiteral("vkFrame2");

FontDesc arial(double points, bool bold) { return FontDesc{QStringLiteral("Arial"), points, bold}; }

// Where each slot's five controls stand in the slot panel, slots 1 to 8.
struct SlotPlaces
{
    int driveLeft, driveTop, dirLeft, dirTop, fileLeft, fileTop, tickLeft, tickTop, statusLeft, statusTop;
};
constexpr SlotPlaces slotPlaces[8] = {
    {120, 510, 90, 930, 90, 2130, 180, 3240, 735, 3240},
    {2510, 510, 2490, 930, 2480, 2130, 2550, 3240, 3105, 3240},
    {4870, 510, 4860, 930, 4870, 2130, 4950, 3240, 5505, 3240},
    {7260, 510, 7260, 930, 7260, 2130, 7320, 3240, 7875, 3240},
    {90, 3960, 90, 4380, 90, 5550, 150, 6780, 690, 6780},
    {2480, 3960, 2480, 4380, 2490, 5550, 2550, 6780, 3090, 6780},
    {4870, 3960, 4870, 4380, 4890, 5550, 4950, 6780, 5490, 6780},
    {7260, 3960, 7260, 4380, 7290, 5550, 7320, 6780, 7875, 6780},
};
const SlotPlaces &places(int slot) { return slotPlaces[slot - 1]; }

ControlDesc slotFileList(int i)
{
    return {.name = QStringLiteral("File1"), .index = i, .kind = ControlKind::FileList, .container = SlotPanel,
            .left = places(i).fileLeft, .top = places(i).fileTop, .width = 2295, .height = 1050,
            .font = arial(9.75, false), .tabIndex = 36 + i};
}

ControlDesc slotDriveList(int i)
{
    const bool wide = i == 1 || i == 3;
    ControlDesc desc{.name = QStringLiteral("Drive1"), .index = i, .kind = ControlKind::DriveList, .container = SlotPanel,
                     .left = places(i).driveLeft, .top = places(i).driveTop, .width = wide ? 2295 : 2265,
                     .height = 390, .font = arial(11.25, true), .tabIndex = 8 + 2 * i};
    if (i == 1)
        desc.backColour = 0xFFFFFF;
    return desc;
}

ControlDesc slotFolderList(int i)
{
    return {.name = QStringLiteral("Dir1"), .index = i, .kind = ControlKind::FolderList, .container = SlotPanel,
            .left = places(i).dirLeft, .top = places(i).dirTop, .width = 2295, .height = 1170,
            .font = arial(9.75, false), .tabIndex = 7 + 2 * i};
}

ControlDesc slotTick(int i)
{
    return {.name = QStringLiteral("Coche"), .index = i, .kind = ControlKind::Image, .container = SlotPanel,
            .left = places(i).tickLeft, .top = places(i).tickTop, .width = 480, .height = 480,
            .picture = PictureId::NotTicked};
}

ControlDesc statusBox(int i, const QString &container, int left, int top, const QString &caption, quint32 colour,
                      bool visible, int tabIndex)
{
    return {.name = QStringLiteral("Controle"), .index = i, .kind = ControlKind::Label, .container = container,
            .left = left, .top = top, .width = 1650, .height = 390, .caption = caption, .font = arial(14.25, true),
            .backColour = colour, .border = true, .centred = true, .visible = visible, .tabIndex = tabIndex};
}

QList<std::pair<QString, QVariant>> panelSettings(const QString &caption, const FontDesc &font, quint32 back,
                                                  quint32 title1, quint32 title2)
{
    return {{QStringLiteral("caption"), caption},
            {QStringLiteral("font"), font.toFont()},
            {QStringLiteral("forecolor"), quint32(0x000000)},
            {QStringLiteral("backcolor2"), back},
            {QStringLiteral("titlecolor1"), title1},
            {QStringLiteral("titlecolor2"), title2},
            {QStringLiteral("titleheight"), 450},
            {QStringLiteral("bordercolor"), quint32(0xFFFFFF)},
            {QStringLiteral("borderwidth"), 3}};
}

QList<std::pair<QString, QVariant>> buttonSettings(const QString &caption, quint32 back1, quint32 back2)
{
    return {{QStringLiteral("caption"), caption},
            {QStringLiteral("font"), arial(15.75, true).toFont()},
            {QStringLiteral("forecolor"), quint32(0xFFFFFF)},
            {QStringLiteral("backcolor1"), back1},
            {QStringLiteral("backcolor2"), back2},
            {QStringLiteral("customstyle"), 0}};
}

std::vector<ControlDesc> describe()
{
    std::vector<ControlDesc> rows;
    rows.push_back({.name = QStringLiteral("FichKill"), .kind = ControlKind::TextBox, .container = Window,
                    .left = 2250, .top = 8130, .width = 9465, .height = 435,
                    .caption = QStringLiteral("Inscrire ici ou sélectionner dans une des clés un éventuel fichier à "
                                              "supprimer sur toutes les clés"),
                    .font = FontDesc{QStringLiteral("Arial Narrow"), 12, true}, .tabIndex = 35});
    rows.push_back({.name = QStringLiteral("Text1"), .kind = ControlKind::TextBox, .container = Window, .left = 5280,
                    .top = 8880, .width = 10485, .height = 3465, .caption = QStringLiteral("Text1"), .tabIndex = 33});

    rows.push_back({.name = SlotPanel, .kind = ControlKind::Panel, .container = Window, .left = 7500, .top = 60,
                    .width = 9660, .height = 7845, .tabIndex = 8,
                    .settings = panelSettings(QStringLiteral("Sélectionner ci-dessous les clés USB de destination"),
                                              arial(15.75, true), 0x0080FF, 0x0080FF, 0xC0E0FF)});
    for (int i = LastSlot; i >= FirstSlot; --i)
        rows.push_back(slotFileList(i));
    for (int i = LastSlot; i >= FirstSlot; --i) {
        rows.push_back(slotDriveList(i));
        rows.push_back(slotFolderList(i));
    }
    rows.push_back({.name = QStringLiteral("Destin"), .kind = ControlKind::Label, .container = SlotPanel,
                    .left = 120, .top = 7350, .width = 9375, .height = 300, .caption = QStringLiteral("Destination"),
                    .font = arial(12, true), .tabIndex = 36});
    for (int i = LastSlot; i >= FirstSlot; --i)
        rows.push_back(slotTick(i));
    for (int i = LastSlot; i >= FirstSlot; --i)
        rows.push_back(statusBox(i, SlotPanel, places(i).statusLeft, places(i).statusTop, QStringLiteral("inactif"),
                                 0xE0E0E0, true, 24 + i));

    rows.push_back({.name = SourcePanel, .kind = ControlKind::Panel, .container = Window, .left = 60, .top = 90,
                    .width = 7320, .height = 7845, .tabIndex = 3,
                    .settings = panelSettings(QStringLiteral("Sélectionner ci-dessous le fichier à copier"),
                                              arial(14.25, true), 0x00C0C0, 0x00C0C0, 0xC0FFFF)});
    rows.push_back({.name = QStringLiteral("Drive1"), .index = 0, .kind = ControlKind::DriveList,
                    .container = SourcePanel, .left = 60, .top = 510, .width = 3375, .height = 405,
                    .font = arial(12, true), .tabIndex = 6});
    rows.push_back({.name = QStringLiteral("File1"), .index = 0, .kind = ControlKind::FileList,
                    .container = SourcePanel, .left = 3480, .top = 510, .width = 3735, .height = 6720,
                    .font = arial(11.25, false), .tabIndex = 5});
    rows.push_back({.name = QStringLiteral("Dir1"), .index = 0, .kind = ControlKind::FolderList,
                    .container = SourcePanel, .left = 60, .top = 1140, .width = 3375, .height = 6075,
                    .font = arial(11.25, false), .tabIndex = 4});
    rows.push_back({.name = QStringLiteral("Chemin"), .kind = ControlKind::Label, .container = SourcePanel,
                    .left = 120, .top = 7350, .width = 7035, .height = 300, .caption = QStringLiteral("Origine"),
                    .font = arial(12, true), .tabIndex = 7});

    rows.push_back({.name = QStringLiteral("LanceCopie"), .kind = ControlKind::Button, .container = Window,
                    .left = 11940, .top = 8040, .width = 3015, .height = 645, .tabIndex = 1,
                    .settings = buttonSettings(QStringLiteral("Lancer les copies"), 0x00FF00, 0x004000)});
    rows.push_back({.name = QStringLiteral("Quitter"), .kind = ControlKind::Button, .container = Window,
                    .left = 15210, .top = 8010, .width = 1905, .height = 645, .tabIndex = 2,
                    .settings = buttonSettings(QStringLiteral("Quitter"), 0x8080FF, 0x000040)});
    rows.push_back({.name = QStringLiteral("Label1"), .kind = ControlKind::Label, .container = Window, .left = 90,
                    .top = 8160, .width = 2055, .height = 390, .caption = QStringLiteral("Si nécessaire :"),
                    .font = arial(14.25, true), .tabIndex = 34});
    rows.push_back({.name = QStringLiteral("Cnon"), .kind = ControlKind::Image, .container = Window, .left = 3360,
                    .top = 9510, .width = 480, .height = 480, .visible = false, .picture = PictureId::NotTicked});
    rows.push_back({.name = QStringLiteral("Coui"), .kind = ControlKind::Image, .container = Window, .left = 2670,
                    .top = 9510, .width = 480, .height = 480, .visible = false, .picture = PictureId::Ticked});
    rows.push_back(statusBox(0, Window, 810, 9570, QStringLiteral("En attente"), 0xFFFF00, false, 0));
    return rows;
}

} // namespace

QFont FontDesc::toFont() const
{
    QFont font(face);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

const WindowSettings &windowSettings()
{
    static const WindowSettings settings{QStringLiteral("Essaimeur par Mervane   Version 1.02"), 17220, 8760, 0x800000};
    return settings;
}

const std::vector<ControlDesc> &windowDescription()
{
    static const std::vector<ControlDesc> rows = describe();
    return rows;
}
// clang-format on
