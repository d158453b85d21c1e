#pragma once

#include <QHash>
#include <QIcon>
#include <QIdentityProxyModel>

class SystemIconList;

// The program list as the views show it: each name gets its picture from the run's icon list, with
// the state image (the warning sign of a missing uninstaller) drawn beside it. Every item reserves the
// state image's place, so names line up whether or not they carry the sign.
//
// A decoration is composed, and its file's icon read, only when a view first paints it, at the size
// that view shows; asking for it (as layout and size hints do) costs nothing.
class ProgramIconModel : public QIdentityProxyModel
{
    Q_OBJECT

public:
    // Decoration sizes: state image left of the icon, 16 px in the small styles, 32 px icons in the large.
    static constexpr QSize SmallDecoration{32, 16};
    static constexpr QSize LargeDecoration{48, 32};

    explicit ProgramIconModel(SystemIconList& icons, QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    QIcon decoration(int iconIndex, int stateIndex) const;

    SystemIconList& m_icons;
    // Indexes keep their pictures for the whole run, so a decoration is composed once per pair and size.
    mutable QHash<quint64, QIcon> m_cache;
};
