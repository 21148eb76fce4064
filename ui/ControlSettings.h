#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QString>
#include <QVariant>

#include <initializer_list>

// The settings of a painted control, by the control library's keys, with the
// library's defaults for the keys the window leaves unset.
class ControlSettings
{
public:
    enum class Kind {
        Text,
        Font,   // a QFont, or the text QFont::toString() gives
        Colour, // 0xBBGGRR, or a QColor
        Count,  // an integer of zero or more: twips, pixels, a style number
    };

    struct Key
    {
        QString name; ///< in lower case
        Kind kind = Kind::Text;
        QVariant fallback;   ///< the default when the key is unset
        QString sameAs = {}; ///< when unset, the value of this other key instead
    };

    // The keys every painted control has (caption, font, forecolor, customstyle,
    // _extentx, _extenty), then the control's own.
    ControlSettings(std::initializer_list<Key> keys);

    // Keys match whatever their case. An unknown key or a value of the wrong
    // kind is refused with a warning and leaves the settings as they were.
    bool set(const QString &key, const QVariant &value);

    // The value set, else the default; an invalid QVariant for an unknown key.
    QVariant value(const QString &key) const;

    QString text(const QString &key) const;
    QFont font(const QString &key) const;
    QColor colour(const QString &key) const;
    int count(const QString &key) const;

private:
    const Key *find(const QString &key) const;

    QHash<QString, Key> m_keys;
    QHash<QString, QVariant> m_values;
};

// A widget painted from its settings: setSetting() stores a value the settings
// accept, tells settingChanged() its key in lower case, and repaints.
template<typename Widget>
class SetWidget : public Widget
{
public:
    void setSetting(const QString &key, const QVariant &value)
    {
        if (!m_settings.set(key, value))
            return;
        settingChanged(key.toLower());
        this->update();
    }
    QVariant setting(const QString &key) const { return m_settings.value(key); }

protected:
    SetWidget(QWidget *parent, std::initializer_list<ControlSettings::Key> keys)
        : Widget(parent)
        , m_settings(keys)
    { }
    virtual void settingChanged(const QString &) { }

    ControlSettings m_settings;
};
