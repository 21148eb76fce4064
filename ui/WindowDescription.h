#pragma once

#include <QFont>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>
#include <utility>
#include <vector>

// The window as data: one row per control, in creation order. Positions and
// sizes are in twips (15 to a pixel), relative to the control's container.

enum class ControlKind {
    Panel,
    Button,
    DriveList,
    FolderList,
    FileList,
    Label,
    TextBox,
    Image
};
enum class PictureId {
    None,
    NotTicked,
    Ticked
};

struct FontDesc
{
    QString face;
    double points = 0;
    bool bold = false;

    QFont toFont() const;
};

struct ControlDesc
{
    QString name;
    int index = -1; ///< -1 for a control that is not an array element
    ControlKind kind = ControlKind::Label;
    QString container; ///< "Copieur", "vkFrame1" or "vkFrame2"
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    QString caption;
    std::optional<FontDesc> font;
    std::optional<quint32> backColour; ///< 0xBBGGRR; unset keeps the control's default
    bool border = false;
    bool centred = false;
    bool visible = true;
    int tabIndex = -1; ///< -1 for controls that have no place in the tab order
    PictureId picture = PictureId::None;
    QList<std::pair<QString, QVariant>> settings; ///< the panels' and buttons' own keys

    QString fullName() const { return index < 0 ? name : QStringLiteral("%1(%2)").arg(name).arg(index); }
};

struct WindowSettings
{
    QString title;
    int clientWidth = 0;  ///< twips
    int clientHeight = 0; ///< twips
    quint32 background = 0;
};

constexpr int TwipsPerPixel = 15;
inline int twipsToPixels(int twips)
{
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}

const WindowSettings &windowSettings();
const std::vector<ControlDesc> &windowDescription();
