#pragma once

#include "controls/ProgramListHost.h"
#include "desktop/SystemIconList.h"
#include "inventory/PlatformVersion.h"
#include "inventory/ProgramListModel.h"
#include "inventory/ProgramScan.h"
#include "prefix/WinePrefix.h"

#include <QString>
#include <QWidget>

// What the windows use of the main window, without the main window: the list of a prefix read by the
// real scan, a selection, and a count of each request that only the main window could carry out.
class ListHostStandIn : public ProgramListHost
{
public:
    ListHostStandIn(const QString& prefixPath, const QString& workingFolder)
        : m_prefix(prefixPath), m_workingFolder(workingFolder), m_model(IsNTPlatform(m_prefix)),
          m_scan(m_prefix, IsNTPlatform(m_prefix), m_icons, -1, -1)
    {
        m_scan.RefreshProgramList(m_model);
    }

    QWidget* hostWindow() override { return &m_window; }
    const WinePrefix& prefix() const override { return m_prefix; }
    const QString& workingFolder() const override { return m_workingFolder; }
    ProgramListModel& programList() override { return m_model; }
    int selectedIndex() const override { return m_selected; }
    void selectItem(int row) override { m_selected = row >= 0 && row < m_model.count() ? row : -1; }
    void refreshListAndCount() override
    {
        ++refreshes;
        m_selected = -1;
        m_scan.RefreshProgramList(m_model);
    }
    void uninstallSelected() override { ++uninstallRequests; }
    void showMainWindow() override { ++showRequests; }

    // The row of the entry whose key ends in `subkey`; -1 when none.
    int rowOf(const QString& subkey) const
    {
        for (int row = 0; row < m_model.count(); ++row) {
            if (m_model.at(row).KeyPath.endsWith(u'\\' + subkey))
                return row;
        }
        return -1;
    }

    int refreshes = 0;
    int uninstallRequests = 0;
    int showRequests = 0;

private:
    WinePrefix m_prefix;
    QString m_workingFolder;
    QWidget m_window;
    SystemIconList m_icons;
    ProgramListModel m_model;
    ProgramScan m_scan;
    int m_selected = -1;
};
