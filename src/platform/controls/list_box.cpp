#include "list_box.h"

#include "one_line_names.h"
#include "twips.h"

#include <QDragEnterEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QToolTip>
#include <QUrl>

namespace {

// Rows exactly one line of text high, so that a pointer's height in the
// list divided by the text height is the row under it.
class TextHeightRows : public OneLineNames {
public:
    using OneLineNames::OneLineNames;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), QFontMetrics(option.font).height()};
    }
};

}  // namespace

ListBox::ListBox(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new TextHeightRows(this));
    setUniformItemSizes(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    connect(model(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) { tally(parent, first, last, +1); });
    connect(model(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex& parent, int first, int last) { tally(parent, first, last, -1); });
    connect(model(), &QAbstractItemModel::modelReset, this, &ListBox::rebuildIndex);
    connect(model(), &QAbstractItemModel::dataChanged, this, &ListBox::rebuildIndex);
}

ListBox::~ListBox() {
    // The entries are removed after this object is gone; the index must not hear of it.
    disconnect(model(), nullptr, this, nullptr);
}

QString ListBox::List(int index) const {
    const QListWidgetItem* entry = item(index);
    return entry ? entry->text() : QString();
}

int ListBox::TopIndex() const { return std::max(0, indexAt(QPoint(0, 0)).row()); }

bool ListBox::Selected(int index) const {
    const QListWidgetItem* entry = item(index);
    return entry && entry->isSelected();
}

void ListBox::tally(const QModelIndex& parent, int first, int last, int delta) {
    for (int row = first; row <= last; ++row) {
        const QString text = model()->index(row, 0, parent).data().toString();
        if ((index_[text] += delta) <= 0) index_.remove(text);
    }
}

void ListBox::rebuildIndex() {
    index_.clear();
    for (int row = 0; row < QListWidget::count(); ++row) ++index_[item(row)->text()];
}

void ListBox::setOLEDropMode(int mode) {
    dropMode_ = mode;
    setAcceptDrops(mode != 0);
    viewport()->setAcceptDrops(mode != 0);
}

void ListBox::setOLEDragMode(int mode) {
    setDragEnabled(mode != 0);
    setDragDropMode(mode != 0 ? QAbstractItemView::DragDrop : QAbstractItemView::NoDragDrop);
    setDefaultDropAction(Qt::CopyAction);
}

QStringList ListBox::droppedFiles(const QMimeData* data) {
    QStringList files;
    if (data == nullptr || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) files << url.toLocalFile();  // remote addresses are no files here
    return files;
}

void ListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    // Only a double-click on an entry acts: below the entries the current one
    // is still the last one clicked, and it must not be taken by surprise.
    QListWidgetItem* under = itemAt(event->position().toPoint());
    if (under == nullptr) return;
    setCurrentItem(under);  // as after the double-click's first click
    emit DblClick();
}

void ListBox::paintEvent(QPaintEvent* event) {
    QListWidget::paintEvent(event);
    paintFocusWhenEmpty(this);
}

void ListBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        emit DeleteKey();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void ListBox::mouseMoveEvent(QMouseEvent* event) {
    QListWidget::mouseMoveEvent(event);
    const QPointF at = event->position();
    emit MouseMove(event->buttons(), event->modifiers(), at.x() * kTwipsPerPixel, at.y() * kTwipsPerPixel);
}

bool ListBox::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (toolTip_.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), toolTip_, viewport());
        return true;
    }
    return QListWidget::viewportEvent(event);
}

void ListBox::dragEnterEvent(QDragEnterEvent* event) {
    if (dropMode_ != 0 && event->source() != this && !droppedFiles(event->mimeData()).isEmpty()) {
        event->setDropAction(Qt::CopyAction);  // the files stay where they are; only their paths are queued
        event->accept();
    } else {
        event->ignore();
    }
}

void ListBox::dragMoveEvent(QDragMoveEvent* event) {
    if (dropMode_ != 0 && event->source() != this && !droppedFiles(event->mimeData()).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void ListBox::dropEvent(QDropEvent* event) {
    if (dropMode_ == 0 || event->source() == this) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit OLEDragDrop(event->mimeData());
}

QStringList ListBox::mimeTypes() const { return {QStringLiteral("text/plain")}; }

QMimeData* ListBox::mimeData(const QList<QListWidgetItem*>& items) const {
    QStringList texts;
    for (const QListWidgetItem* entry : items) texts << entry->text();
    auto* data = new QMimeData;
    data->setText(texts.join(QLatin1Char('\n')));
    return data;
}
