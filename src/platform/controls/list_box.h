// A list box of texts: double-click, drops of file lists, dragging entries
// out as text, mouse moves in twips and a tooltip the program sets.
#pragma once

#include <QHash>
#include <QListWidget>

class QMimeData;

class ListBox : public QListWidget {
    Q_OBJECT

public:
    explicit ListBox(QWidget* parent = nullptr);
    ~ListBox() override;

    int ListCount() const { return count(); }
    QString List(int index) const;
    int ListIndex() const { return currentRow(); }  // -1 when no entry is current
    int TopIndex() const;  // the first visible entry
    bool Selected(int index) const;
    void AddItem(const QString& text) { addItem(text); }
    void RemoveItem(int index) { delete takeItem(index); }
    // Whether an entry equals `text` exactly; kept in step with every change
    // to the entries, so that it costs no scan.
    bool containsEntry(const QString& text) const { return index_.contains(text); }

    QString ToolTipText() const { return toolTip_; }
    void setToolTipText(const QString& text) { toolTip_ = text; }
    // 1: drops of file lists reach OLEDragDrop; 0: no drops.
    void setOLEDropMode(int mode);
    // 1: entries can be dragged out, as their texts; 0: no dragging.
    void setOLEDragMode(int mode);

    // What dragging the selected entries out offers (owned by the caller).
    QMimeData* selectionData() const { return mimeData(selectedItems()); }

    // The local paths a drop carries, in the drop source's order.
    static QStringList droppedFiles(const QMimeData* data);

signals:
    void DblClick();
    void DeleteKey();  // Delete pressed: the selected entries are to go
    void OLEDragDrop(const QMimeData* data);
    void MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, double x, double y);  // twips

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override;

private:
    void tally(const QModelIndex& parent, int first, int last, int delta);
    void rebuildIndex();

    QHash<QString, int> index_;
    QString toolTip_;
    int dropMode_ = 0;
};
