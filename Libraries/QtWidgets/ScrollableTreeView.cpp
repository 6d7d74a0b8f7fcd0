#include "QtWidgets/ScrollableTreeView.h"

#include "QtWidgets/TreeView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHoverEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QWindow>

namespace QtWidgets {

// --- FullRowHeaderView --------------------------------------------------------------------

FullRowHeaderView::FullRowHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    setMouseTracking(true);
    setSectionsClickable(true);
}

// Any click acts on the single visible section, wherever on the header it lands.
void FullRowHeaderView::mousePressEvent(QMouseEvent* event)
{
    QMouseEvent moved(event->type(), QPointF(0, 0), event->windowPos(), event->screenPos(), event->button(),
                      event->buttons(), event->modifiers());
    QHeaderView::mousePressEvent(&moved);
}

void FullRowHeaderView::mouseReleaseEvent(QMouseEvent* event)
{
    QMouseEvent moved(event->type(), QPointF(0, 0), event->windowPos(), event->screenPos(), event->button(),
                      event->buttons(), event->modifiers());
    QHeaderView::mouseReleaseEvent(&moved);
}

void FullRowHeaderView::mouseMoveEvent(QMouseEvent* event)
{
    mHover = true;
    viewport()->update();
    QHeaderView::mouseMoveEvent(event);
}

void FullRowHeaderView::leaveEvent(QEvent* event)
{
    mHover = false;
    viewport()->update();
    QHeaderView::leaveEvent(event);
}

void FullRowHeaderView::paintEvent(QPaintEvent*)
{
    if (count() == 0)
        return;
    QPainter painter(viewport());
    QStyleOptionHeader option;
    initStyleOption(&option);
    option.rect = viewport()->rect();
    option.section = 0;
    option.text = model() ? model()->headerData(0, orientation(), Qt::DisplayRole).toString() : QString();
    option.position = QStyleOptionHeader::OnlyOneSection;
    if (isSortIndicatorShown() && sortIndicatorSection() == 0)
        option.sortIndicator = sortIndicatorOrder() == Qt::AscendingOrder ? QStyleOptionHeader::SortDown
                                                                          : QStyleOptionHeader::SortUp;
    if (mHover)
        option.state |= QStyle::State_MouseOver;
    style()->drawControl(QStyle::CE_Header, &option, &painter, this);
}

// --- ScrollableTreeViewItemDelegate ---------------------------------------------------------

ScrollableTreeViewItemDelegate::ScrollableTreeViewItemDelegate(LinkedTreeView* leftTree, QObject* parent)
    : QStyledItemDelegate(parent), mLeftTree(leftTree)
{}

void ScrollableTreeViewItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                           const QModelIndex& index) const
{
    if (index.column() != 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem wide = option;
    initStyleOption(&wide, index);
    wide.rect.setWidth(mLeftTree->header()->sectionSize(0) + mLeftTree->width());
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &wide, painter, widget);
}

bool ScrollableTreeViewItemDelegate::IsOnDecoration(const QPoint& pos) const
{
    const QModelIndex index = mLeftTree->indexAt(pos);
    if (!index.isValid())
        return false;
    const QRect rect = mLeftTree->visualRect(index);
    // The branch decoration sits in the indentation left of the item's rectangle.
    return pos.x() < rect.left() && pos.x() >= rect.left() - mLeftTree->indentation();
}

// --- ScrollableTreeView ---------------------------------------------------------------------

namespace {

void SetUpTree(LinkedTreeView* tree)
{
    tree->setFrameShape(QFrame::NoFrame);
    tree->setLineWidth(0);
    tree->setStyleSheet(QStringLiteral("QTreeView{border: 0;}"));
    tree->setUniformRowHeights(true);
    tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    tree->header()->setContextMenuPolicy(Qt::CustomContextMenu);
    tree->viewport()->setMouseTracking(true);
    tree->viewport()->setAttribute(Qt::WA_Hover);
}

} // namespace

ScrollableTreeView::ScrollableTreeView(QWidget* parent) : QFrame(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    mSplitter = new QSplitter(Qt::Horizontal, this);
    mSplitter->setHandleWidth(0);
    mSplitter->setLineWidth(0);
    mSplitter->setChildrenCollapsible(false);
    layout->addWidget(mSplitter);

    mLeftTree = new LinkedTreeView(mSplitter);
    mLeftTree->setObjectName(QStringLiteral("mLeftTree"));
    mRightTree = new LinkedTreeView(mSplitter);
    mRightTree->setObjectName(QStringLiteral("mRightTree"));
    mLeftTree->SetPartner(mRightTree);
    mRightTree->SetPartner(mLeftTree);
    SetUpTree(mLeftTree);
    SetUpTree(mRightTree);

    auto* leftHeader = new FullRowHeaderView(mLeftTree);
    leftHeader->setContextMenuPolicy(Qt::CustomContextMenu);
    mLeftTree->setHeader(leftHeader);
    mLeftTree->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mLeftTree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mLeftTree->setAlternatingRowColors(false);
    mLeftTree->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    mRightTree->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mRightTree->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    mRightTree->header()->setCascadingSectionResizes(false);
    mRightTree->header()->setStretchLastSection(false);
    // The right half shows no tree decoration: its rows line up with the left ones.
    mRightTree->setRootIsDecorated(false);
    mRightTree->setIndentation(0);

    mDelegate = new ScrollableTreeViewItemDelegate(mLeftTree, this);
    mLeftTree->setItemDelegate(mDelegate);

    LinkTrees(mLeftTree, mRightTree);
    LinkTrees(mRightTree, mLeftTree);
    connect(mLeftTree->horizontalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { mLeftTree->header()->viewport()->update(); });
    connect(mRightTree->header(), &QHeaderView::sectionResized, this,
            &ScrollableTreeView::OnRightSectionResized);

    for (QObject* watched :
         {static_cast<QObject*>(mLeftTree), static_cast<QObject*>(mRightTree),
          static_cast<QObject*>(mLeftTree->viewport()), static_cast<QObject*>(mRightTree->viewport()),
          static_cast<QObject*>(mLeftTree->horizontalScrollBar()),
          static_cast<QObject*>(mRightTree->verticalScrollBar()), static_cast<QObject*>(mSplitter)})
        watched->installEventFilter(this);
    mSplitter->setStretchFactor(0, 1);
    mSplitter->setStretchFactor(1, 0);
}

ScrollableTreeView::~ScrollableTreeView()
{
    // The trees are deleted after this destructor has run (as QWidget children); the focus change
    // their deletion causes must not reach the signals of a view that is already gone.
    for (QObject* sender :
         {static_cast<QObject*>(mLeftTree), static_cast<QObject*>(mRightTree),
          static_cast<QObject*>(mLeftTree->header()), static_cast<QObject*>(mRightTree->header())})
        sender->disconnect(this);
}

void ScrollableTreeView::LinkTrees(LinkedTreeView* from, LinkedTreeView* to)
{
    connect(from, &QWidget::customContextMenuRequested, this,
            [this, from](QPoint pos) { emit OnContextMenuRequested(from->viewport()->mapTo(this, pos)); });
    connect(from->header(), &QWidget::customContextMenuRequested, this, [this, from](QPoint pos) {
        emit OnHeaderContextMenuRequested(from->header()->mapTo(this, pos));
    });
    connect(from, &QAbstractItemView::doubleClicked, this, &ScrollableTreeView::OnDoubleClicked);
    connect(from, &TreeView::OnCopyToClipboard, this, &ScrollableTreeView::OnCopyToClipboard);
    connect(from, &TreeView::ReapplySelection, this, &ScrollableTreeView::ReapplySelection);
    connect(from, &TreeView::OnFocusChanged, this, [this, to](bool hasFocus) {
        to->viewport()->update(); // the partner draws its rows as active while this one has the focus
        emit OnFocusChanged(hasFocus);
    });
    connect(from->header(), &QHeaderView::sortIndicatorChanged, to, [to](int column, Qt::SortOrder order) {
        if (to->header()->sortIndicatorSection() != column || to->header()->sortIndicatorOrder() != order)
            to->header()->setSortIndicator(column, order);
    });
    connect(from, &QTreeView::expanded, to, [to](const QModelIndex& index) {
        if (!to->isExpanded(index))
            to->expand(index);
    });
    connect(from, &QTreeView::collapsed, to, [to](const QModelIndex& index) {
        if (to->isExpanded(index))
            to->collapse(index);
    });
    connect(from->verticalScrollBar(), &QScrollBar::valueChanged, to, [to](int value) {
        if (to->verticalScrollBar()->value() != value)
            to->verticalScrollBar()->setValue(value);
    });
}

void ScrollableTreeView::setModel(QAbstractItemModel* model)
{
    QItemSelectionModel* previous = mSelectionModel;
    if (previous)
        disconnect(previous, nullptr, this, nullptr);
    QItemSelectionModel* leftOwn = nullptr;
    QItemSelectionModel* rightOwn = nullptr;
    mLeftTree->setModel(model);
    mRightTree->setModel(model);
    leftOwn = mLeftTree->selectionModel();
    rightOwn = mRightTree->selectionModel();
    mSelectionModel = nullptr;
    if (model) {
        mSelectionModel = new QItemSelectionModel(model, this);
        mLeftTree->setSelectionModel(mSelectionModel);
        mRightTree->setSelectionModel(mSelectionModel);
        connect(mSelectionModel, &QItemSelectionModel::selectionChanged, this, [this] {
            emit OnSelectionChanged();
            update();
        });
    }
    for (QItemSelectionModel* own : {leftOwn, rightOwn})
        if (own && own != previous && own != mSelectionModel)
            own->deleteLater(); // the views may still reference it within this event
    delete previous;
    if (model) {
        mLeftTree->header()->setSortIndicatorShown(mRightTree->isSortingEnabled());
        SizeColumns();
    }
}

QAbstractItemModel* ScrollableTreeView::model() const
{
    return mLeftTree->model();
}

void ScrollableTreeView::setItemDelegate(QStyledItemDelegate* delegate)
{
    QAbstractItemDelegate* old = mLeftTree->itemDelegate();
    mLeftTree->setItemDelegate(delegate);
    if (old != delegate) {
        if (old == mDelegate)
            mDelegate = nullptr;
        delete old;
    }
}

void ScrollableTreeView::setItemDelegateForColumn(int column, QAbstractItemDelegate* delegate)
{
    LinkedTreeView* tree = column == 0 ? mLeftTree : mRightTree;
    QAbstractItemDelegate* old = tree->itemDelegateForColumn(column);
    tree->setItemDelegateForColumn(column, delegate);
    if (old && old != delegate)
        delete old;
}

void ScrollableTreeView::SetVisibleColumns(const QSet<int>& columns)
{
    if (columns == mVisibleColumns)
        return;
    mVisibleColumns = columns;
    ApplyVisibleColumns();
    mRightTree->header()->updateGeometry();
}

void ScrollableTreeView::SetColumnWidthProvider(ColumnWidthProvider provider)
{
    mWidthProvider = std::move(provider);
}

void ScrollableTreeView::setSortingEnabled(bool enabled)
{
    mRightTree->setSortingEnabled(enabled);
    mLeftTree->setSortingEnabled(enabled);
    mLeftTree->header()->setSortIndicatorShown(enabled);
}

void ScrollableTreeView::sortByColumn(int column, Qt::SortOrder order)
{
    mRightTree->sortByColumn(column, order);
}
void ScrollableTreeView::expand(const QModelIndex& index)
{
    mLeftTree->expand(index);
}
void ScrollableTreeView::collapse(const QModelIndex& index)
{
    mLeftTree->collapse(index);
}
bool ScrollableTreeView::isExpanded(const QModelIndex& index) const
{
    return mLeftTree->isExpanded(index);
}
void ScrollableTreeView::scrollTo(const QModelIndex& index)
{
    mLeftTree->scrollTo(index);
}
void ScrollableTreeView::setCurrentIndex(const QModelIndex& index)
{
    mLeftTree->setCurrentIndex(index);
}

void ScrollableTreeView::expandAll()
{
    mLeftTree->expandAll();
    mRightTree->expandAll();
}

int ScrollableTreeView::ScaledPixels(int pixels) const
{
    const QScreen* screen =
        window()->windowHandle() ? window()->windowHandle()->screen() : QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return static_cast<int>(pixels * dpi / 96.0);
}

int ScrollableTreeView::RightSectionsWidth() const
{
    int total = 0;
    const QHeaderView* header = mRightTree->header();
    for (int i = 0; i < header->count(); ++i)
        if (!header->isSectionHidden(i))
            total += header->sectionSize(i);
    return total;
}

void ScrollableTreeView::SizeColumns()
{
    QAbstractItemModel* itemModel = model();
    if (!itemModel)
        return;
    const int columns = itemModel->columnCount();
    QHeaderView* header = mRightTree->header();
    QStyleOptionHeader option;
    option.initFrom(header);
    // Room for the sort arrow whichever column is sorted: styles that draw it beside the text
    // (Fusion among them) would otherwise clip the header of the sorted column.
    const int base = 3 * style()->pixelMetric(QStyle::PM_HeaderMargin, &option, header) +
                     style()->pixelMetric(QStyle::PM_HeaderMarkSize, &option, header);
    // No column is made narrower than its header; the provider's widths grow to fill the
    // minimum share of the view, up to the automatic maximum.
    std::vector<int> headerWidths(static_cast<size_t>(std::max(columns, 0)), 0);
    std::vector<int> wanted(headerWidths.size(), 0);
    int total = 0;
    for (int column = 1; column < columns; ++column) {
        if (!mVisibleColumns.contains(column))
            continue;
        const QString text = itemModel->headerData(column, Qt::Horizontal).toString();
        const auto at = static_cast<size_t>(column);
        headerWidths[at] = header->fontMetrics().horizontalAdvance(text) + base;
        wanted[at] = mWidthProvider ? mWidthProvider(column, headerWidths[at]) : header->sectionSize(column);
        total += wanted[at];
    }
    const double factor =
        mWidthProvider && total >= 1
            ? std::max(1.0, static_cast<int>(width() * mMinimumShare) / static_cast<double>(total))
            : 1.0;
    const int cap = ScaledPixels(mMaximumAutomaticWidth);
    {
        const QSignalBlocker blocker(header);
        for (int column = 1; column < columns; ++column) {
            const auto at = static_cast<size_t>(column);
            if (wanted[at] < 1)
                continue;
            const int grown = std::min(cap, static_cast<int>(wanted[at] * factor));
            header->resizeSection(column, std::max(headerWidths[at], grown));
        }
    }
    for (int column = 1; column < columns; ++column) {
        mLeftTree->setColumnHidden(column, true);
        mRightTree->header()->setSectionResizeMode(column, QHeaderView::Interactive);
    }
    if (columns > 0)
        mLeftTree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    mLeftTree->setMinimumWidth(0);
    mLeftTree->setMaximumWidth(QWIDGETSIZE_MAX);
    ApplyVisibleColumns();
}

void ScrollableTreeView::ApplyVisibleColumns()
{
    QAbstractItemModel* itemModel = model();
    const int columns = itemModel ? itemModel->columnCount() : 0;
    for (int column = 0; column < columns; ++column)
        mRightTree->setColumnHidden(column, column == 0 || !mVisibleColumns.contains(column));
    UpdateRightMinimumWidth();
    const int right = mRightTree->minimumWidth();
    mSplitter->setSizes({std::max(0, mSplitter->width() - right), right});
}

void ScrollableTreeView::UpdateRightMinimumWidth()
{
    int total = RightSectionsWidth();
    if (mRightTree->verticalScrollBar()->isVisible())
        total += mRightTree->verticalScrollBar()->width();
    mRightTree->setMinimumWidth(total);
}

void ScrollableTreeView::OnRightSectionResized(int section, int oldSize, int newSize)
{
    int total = RightSectionsWidth();
    if (mRightTree->verticalScrollBar()->isVisible())
        total += mRightTree->verticalScrollBar()->width();
    const int oldTotal = total - newSize + oldSize;
    const int room = width() - 2 * frameWidth() - mLeftTree->width() - oldTotal;
    const int threshold = ScaledPixels(50);
    QHeaderView* header = mRightTree->header();
    const QSignalBlocker blocker(header);
    if (newSize == 0 || (newSize >= threshold && total <= mRightTree->width())) {
        mRightTree->setMinimumWidth(total);
        if (total == 0) {
            mSplitter->handle(1)->setEnabled(false);
            mSplitter->setSizes({mSplitter->width(), 0});
        }
    } else if (newSize >= threshold) {
        if (oldSize == 0) {
            mRightTree->setMinimumWidth(total);
            mSplitter->handle(1)->setEnabled(true);
        } else {
            header->resizeSection(section, std::max(oldSize + room, oldSize));
            mRightTree->setMinimumWidth(oldTotal + room);
        }
    } else {
        // A numeric column narrower than the threshold is unreadable; keep it at the threshold.
        header->resizeSection(section, threshold);
        mRightTree->setMinimumWidth(total - newSize + threshold);
    }
}

void ScrollableTreeView::AlignScrollBars()
{
    // The right half keeps a horizontal bar of the same height as the left one, so that the
    // last rows of both halves stay aligned whether or not the left bar is shown.
    QScrollBar* rightBar = mRightTree->horizontalScrollBar();
    if (mLeftTree->viewport()->width() >= mLeftTree->header()->sectionSize(0)) {
        rightBar->hide();
        rightBar->setStyleSheet(QStringLiteral("QScrollBar {height:0px;}"));
    } else {
        rightBar->show();
        const int extent =
            style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, mLeftTree->horizontalScrollBar());
        rightBar->setStyleSheet(QStringLiteral("QScrollBar {height:%1px;}").arg(extent));
        rightBar->setFixedHeight(0);
    }
}

bool ScrollableTreeView::ForwardHover(QObject* watched, QEvent* event)
{
    QWidget* leftViewport = mLeftTree->viewport();
    QWidget* rightViewport = mRightTree->viewport();
    QWidget* other = watched == leftViewport ? rightViewport : leftViewport;
    if (event->type() == QEvent::HoverLeave) {
        mMouseCapture = false;
        QHoverEvent leave(QEvent::HoverLeave, QPointF(-1, -1), QPointF(-1, -1));
        other->removeEventFilter(this);
        QApplication::sendEvent(other, &leave);
        other->installEventFilter(this);
        return false;
    }
    if (mMouseCapture)
        return true;
    const auto* hover = static_cast<QHoverEvent*>(event);
    QPointF pos = hover->posF();
    if (watched == rightViewport) {
        const QModelIndex index = mRightTree->indexAt(hover->pos());
        if (!index.isValid())
            return false;
        pos.setX(mLeftTree->visualRect(index.siblingAtColumn(0)).x());
    } else {
        pos.setX(mDelegate && mDelegate->IsOnDecoration(hover->pos()) ? -1 : 0);
    }
    QHoverEvent copy(event->type(), pos, hover->oldPosF(), hover->modifiers());
    other->removeEventFilter(this);
    QApplication::sendEvent(other, &copy);
    other->installEventFilter(this);
    return false;
}

bool ScrollableTreeView::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == mRightTree && (type == QEvent::KeyPress || type == QEvent::KeyRelease)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Left || key == Qt::Key_Right) {
            // Expanding and collapsing always happen on the left half.
            QKeyEvent copy(type, key, static_cast<QKeyEvent*>(event)->modifiers());
            QApplication::sendEvent(mLeftTree, &copy);
            return true;
        }
    }
    if (watched == mLeftTree->viewport() &&
        (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
         type == QEvent::MouseMove)) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        QPoint pos = mouse->pos();
        if (pos.x() > mLeftTree->header()->sectionSize(0)) {
            const QModelIndex index = mLeftTree->indexAt(QPoint(0, pos.y()));
            if (index.isValid())
                pos.setX(mLeftTree->visualRect(index).x());
        }
        if (type == QEvent::MouseButtonRelease) {
            mMouseCapture = false;
            return emit OnViewportMouseReleased(pos);
        }
        if (type == QEvent::MouseButtonPress)
            return emit OnViewportMousePressed(pos, mMouseCapture);
        return emit OnViewportMouseMove(pos);
    }
    if (watched == mLeftTree->viewport() && type == QEvent::Leave)
        emit OnViewportMouseLeave();
    if ((watched == mLeftTree->viewport() || watched == mRightTree->viewport()) &&
        (type == QEvent::HoverMove || type == QEvent::HoverLeave || type == QEvent::HoverEnter))
        return ForwardHover(watched, event);
    if (watched == mLeftTree->horizontalScrollBar() && (type == QEvent::Show || type == QEvent::Hide))
        AlignScrollBars();
    if (watched == mRightTree->verticalScrollBar() && (type == QEvent::Show || type == QEvent::Hide))
        UpdateRightMinimumWidth();
    if (watched == mSplitter && type == QEvent::Resize)
        return false; // the splitter lays itself out; this widget's own resize decides the split
    return QFrame::eventFilter(watched, event);
}

bool ScrollableTreeView::event(QEvent* event)
{
    if (event->type() == QEvent::Resize) {
        const auto* resize = static_cast<QResizeEvent*>(event);
        const int delta = resize->size().width() - resize->oldSize().width();
        const QList<int> sizes = mSplitter->sizes();
        if (resize->oldSize().width() > 0 && sizes.size() == 2 && delta != 0) {
            const int right = sizes[1];
            const int sections = RightSectionsWidth();
            int newRight = right;
            if (delta < 0)
                newRight = right - sections > -delta ? right + delta : 0; // the minimum width overrides 0
            QFrame::event(event);
            mSplitter->setSizes({std::max(0, mSplitter->width() - newRight), newRight});
            return true;
        }
    }
    if (event->type() == QEvent::LayoutRequest && mColumnsNeedSizing) {
        mColumnsNeedSizing = false;
        SizeColumns();
    }
    if (event->type() == QEvent::ScreenChangeInternal)
        mColumnsNeedSizing = true;
    return QFrame::event(event);
}

} // namespace QtWidgets
