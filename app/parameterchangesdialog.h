#pragma once

#include "deviceparameters.h"

#include <QDialog>

class QTableWidget;

// Shows what loading a parameter backup would change, one row per value in
// the file: the device's current value beside the file's, changed rows in
// bold. Accepting it means "write the file's values".
class ParameterChangesDialog : public QDialog
{
    Q_OBJECT
public:
    ParameterChangesDialog(const QString &path, const DeviceParameters::Backup &backup,
                           const DeviceParameters::ParameterValues &current, QWidget *parent = nullptr);

    int changedCount() const { return changed; }

private:
    QTableWidget *table = nullptr;
    int changed = 0;
};
