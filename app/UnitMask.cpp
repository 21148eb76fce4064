#include "app/Copieur.h"

QString Copieur::LettreDuMasque(qint32 unitMask)
{
    // Equality with each single-bit value, not a bit test: a mask naming several
    // drives names none.
    qint64 candidate = 1;
    for (int k = 0; k <= 25; ++k) {
        if (unitMask == candidate)
            return QString(QChar(u'A' + k));
        candidate *= 2;
    }
    return {};
}
