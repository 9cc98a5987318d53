#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <stdexcept>

// Raised when a stored indicator property cannot be converted to its type.
class PropertyLoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The container's store for one control instance: named values, names matched
// without regard to case. A value equal to its default is never kept, so a
// missing entry and a default-valued one read back the same.
class ActivityPropertyBag {
public:
    QVariant read(const QString& name, const QVariant& defaultValue) const;
    void write(const QString& name, const QVariant& value, const QVariant& defaultValue);

    bool contains(const QString& name) const;
    void remove(const QString& name);
    void clear() { m_values.clear(); }
    bool isEmpty() const { return m_values.isEmpty(); }
    int size() const { return int(m_values.size()); }
    // The stored names, lower-cased.
    QStringList names() const { return m_values.keys(); }

private:
    static QString key(const QString& name) { return name.toLower(); }

    QMap<QString, QVariant> m_values;
};
