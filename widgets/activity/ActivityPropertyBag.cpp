// Saving and restoring the activity indicator's properties.
#include "ActivityPropertyBag.h"

QVariant ActivityPropertyBag::read(const QString& name, const QVariant& defaultValue) const {
    const auto it = m_values.constFind(key(name));
    return it == m_values.constEnd() ? defaultValue : it.value();
}

void ActivityPropertyBag::write(const QString& name, const QVariant& value, const QVariant& defaultValue) {
    // Dropping the entry (rather than just not adding it) keeps a store that is
    // saved repeatedly from holding on to a value that has since gone back to default.
    if (value == defaultValue)
        m_values.remove(key(name));
    else
        m_values.insert(key(name), value);
}

bool ActivityPropertyBag::contains(const QString& name) const {
    return m_values.contains(key(name));
}

void ActivityPropertyBag::remove(const QString& name) {
    m_values.remove(key(name));
}
