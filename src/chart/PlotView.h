#pragma once
// A plain view where a chart goes. It draws nothing and tells an optional delegate its
// new size.

#include <QSizeF>
#include <QWidget>
#include <memory>

class PlotViewDelegate {
public:
    virtual ~PlotViewDelegate() = default;
    // Whether setFrameSize is answered; the view calls it only then.
    virtual bool respondsToSetFrameSize() const { return false; }
    virtual void setFrameSize(QSizeF size) { (void)size; }
};

class PlotView : public QWidget {
public:
    explicit PlotView(QWidget* parent = nullptr);
    // The view's frame in its parent, in points.
    PlotView(const QRectF& frame, QWidget* parent);

    std::shared_ptr<PlotViewDelegate> delegate() const { return delegate_; }
    void setDelegate(std::shared_ptr<PlotViewDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    // Resizes the view, then tells the delegate.
    void setFrameSize(QSizeF size);

protected:
    void paintEvent(QPaintEvent* event) override;
    // Layouts resize views without setFrameSize; the delegate hears of those too.
    void resizeEvent(QResizeEvent* event) override;

private:
    void tellDelegate(QSizeF size);

    std::shared_ptr<PlotViewDelegate> delegate_;
    QSizeF lastToldSize_{-1.0, -1.0};
    const PlotViewDelegate* lastToldDelegate_ = nullptr;
};
