// A list of captions as the window's channel, exchange and queue lists show them: sorted, one selected item,
// and a click anywhere reported, since a click on empty space means something too (it clears the selection).
#pragma once

#include <QListWidget>
#include <QMouseEvent>

namespace kez {

class TkezListView : public QListWidget {
    Q_OBJECT
public:
    explicit TkezListView(QWidget* aParent) : QListWidget(aParent) {
        setViewMode(QListView::ListMode);
        setSelectionMode(QAbstractItemView::SingleSelection);
        setSortingEnabled(true);
    }

signals:
    void Clicked();

protected:
    void mousePressEvent(QMouseEvent* aEvent) override {
        if (!itemAt(aEvent->position().toPoint())) clearSelection();
        QListWidget::mousePressEvent(aEvent);
    }
    void mouseReleaseEvent(QMouseEvent* aEvent) override {
        QListWidget::mouseReleaseEvent(aEvent);
        if (aEvent->button() == Qt::LeftButton) emit Clicked();
    }
};

} // namespace kez
