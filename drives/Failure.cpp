#include "drives/Failure.h"

#include <cerrno>

Failure::Failure(int number, QString description, QString source)
    : m_number(number)
    , m_source(std::move(source))
    , m_description(std::move(description))
    , m_what(QStringLiteral("%1 (%2)").arg(m_description).arg(m_number).toStdString())
{ }

QString describeFailure(int number)
{
    switch (number) {
    case FailureNumber::OutOfMemory: return QStringLiteral("Mémoire insuffisante");
    case FailureNumber::IndexOutOfRange: return QStringLiteral("L'indice n'appartient pas à la sélection");
    case FailureNumber::Interrupted: return QStringLiteral("Copie interrompue");
    case FailureNumber::InternalError: return QStringLiteral("Erreur interne");
    case FailureNumber::BadFileName: return QStringLiteral("Nom ou numéro de fichier incorrect");
    case FailureNumber::FileNotFound: return QStringLiteral("Fichier introuvable");
    case FailureNumber::DeviceIO: return QStringLiteral("Erreur d'entrée/sortie de périphérique");
    case FailureNumber::DiskFull: return QStringLiteral("Disque plein");
    case FailureNumber::DeviceUnavailable: return QStringLiteral("Périphérique non disponible");
    case FailureNumber::PermissionDenied: return QStringLiteral("Permission refusée");
    case FailureNumber::DiskNotReady: return QStringLiteral("Disque non prêt");
    case FailureNumber::PathFileAccess: return QStringLiteral("Erreur d'accès au chemin/fichier");
    case FailureNumber::PathNotFound: return QStringLiteral("Chemin d'accès introuvable");
    default: return {};
    }
}

Failure failureFor(int number)
{
    return Failure(number, describeFailure(number));
}

int failureNumberForErrno(int err)
{
    switch (err) {
    case ENOENT: return FailureNumber::FileNotFound;
    case ENOTDIR: return FailureNumber::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: return FailureNumber::PermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return FailureNumber::DiskFull;
    case EIO: return FailureNumber::DeviceIO;
    case ENODEV:
    case ENXIO: return FailureNumber::DeviceUnavailable;
    case ENOMEDIUM:
    case ESTALE:
    case ENOTCONN:
    case EHOSTDOWN: return FailureNumber::DiskNotReady;
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ: return FailureNumber::BadFileName;
    default: return FailureNumber::PathFileAccess;
    }
}

Failure failureFromErrno(int err)
{
    return failureFor(failureNumberForErrno(err));
}
