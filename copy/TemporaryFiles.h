#pragma once

#include <QByteArray>

// The temporary files the copies are writing, known to a signal handler: a session
// that ends (SIGTERM, SIGINT, SIGHUP) during a run leaves none of them on the keys.
namespace TemporaryFiles {

// Installs the handler: it removes the registered files, then lets the signal end the process.
void removeOnTermination();

// Registers a file being written; the slot is freed by `forget`. Safe from any thread.
int remember(const QByteArray &path);
void forget(int slot);

} // namespace TemporaryFiles
