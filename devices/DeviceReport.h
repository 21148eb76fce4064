#pragma once

#include <QString>

class Failure;

// The texts that the key handlers write into Text1 and into the error message.
namespace DeviceReport {

// A size in bytes as whole kilobytes, grouped by the system locale.
QString kiloOctets(double bytes);

QString arrivalHeader(const QString &letter);
QString arrivalFacts(const QString &volumeName, double totalSize, double availableSpace);
QString removalFirstLine();
QString removalSecondLine(const QString &letter);

// What the disk service refused, with the cause, in the report's form.
QString mountFailure(const QString &device, const QString &cause);
QString ejectFailure(const QString &letter, const QString &volumeName, const QString &cause);

// "erreur N° 71 générée par EssaimeurMV\rDisque non prêt _ Cette clé semble défectueuse !"
QString faultyKeyMessage(const Failure &failure);

} // namespace DeviceReport
