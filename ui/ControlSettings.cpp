#include "ui/ControlSettings.h"

#include "ui/Colours.h"

#include <QDebug>

#include <limits>
#include <optional>

namespace {

std::optional<QVariant> normalised(ControlSettings::Kind kind, const QVariant &value)
{
    switch (kind) {
    case ControlSettings::Kind::Text:
        if (value.canConvert<QString>())
            return value.toString();
        break;
    case ControlSettings::Kind::Font:
        if (value.typeId() == QMetaType::QFont)
            return value;
        if (value.typeId() == QMetaType::QString) {
            QFont font;
            if (font.fromString(value.toString()))
                return font;
        }
        break;
    case ControlSettings::Kind::Colour:
        if (value.typeId() == QMetaType::QColor) {
            const QColor colour = value.value<QColor>();
            if (colour.isValid())
                return QVariant::fromValue(toBgr(colour));
            break;
        }
        if (value.canConvert<qlonglong>()) {
            bool ok = false;
            const qlonglong bgr = value.toLongLong(&ok);
            if (ok && bgr >= 0 && bgr <= 0xFFFFFF)
                return QVariant::fromValue(quint32(bgr));
        }
        break;
    case ControlSettings::Kind::Count:
        if (value.canConvert<qlonglong>()) {
            bool ok = false;
            const qlonglong number = value.toLongLong(&ok);
            if (ok && number >= 0 && number <= std::numeric_limits<int>::max())
                return int(number);
        }
        break;
    }
    return std::nullopt;
}

} // namespace

ControlSettings::ControlSettings(std::initializer_list<Key> keys)
{
    using namespace Qt::StringLiterals;
    for (const Key &key : {Key{u"caption"_s, Kind::Text, QString()}, Key{u"font"_s, Kind::Font, QFont()},
                           Key{u"forecolor"_s, Kind::Colour, 0x000000u}, Key{u"customstyle"_s, Kind::Count, 0},
                           Key{u"_extentx"_s, Kind::Count, 0}, Key{u"_extenty"_s, Kind::Count, 0}})
        m_keys.insert(key.name, key);
    for (const Key &key : keys)
        m_keys.insert(key.name, key);
}

const ControlSettings::Key *ControlSettings::find(const QString &key) const
{
    const auto found = m_keys.constFind(key.toLower());
    return found == m_keys.constEnd() ? nullptr : &found.value();
}

bool ControlSettings::set(const QString &key, const QVariant &value)
{
    const Key *known = find(key);
    if (!known) {
        qWarning() << "Unknown control setting" << key;
        return false;
    }
    const std::optional<QVariant> accepted = normalised(known->kind, value);
    if (!accepted) {
        qWarning() << "Control setting" << key << "refuses" << value;
        return false;
    }
    m_values.insert(known->name, *accepted);
    return true;
}

QVariant ControlSettings::value(const QString &key) const
{
    const Key *known = find(key);
    if (!known)
        return {};
    const auto stored = m_values.constFind(known->name);
    if (stored != m_values.constEnd())
        return stored.value();
    if (!known->sameAs.isEmpty())
        return value(known->sameAs);
    return known->fallback;
}

QString ControlSettings::text(const QString &key) const
{
    return value(key).toString();
}

QFont ControlSettings::font(const QString &key) const
{
    return value(key).value<QFont>();
}

QColor ControlSettings::colour(const QString &key) const
{
    return fromBgr(value(key).toUInt());
}

int ControlSettings::count(const QString &key) const
{
    return value(key).toInt();
}
