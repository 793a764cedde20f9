#pragma once
// A widget that shows one graph, or none, filling its bounds.

#include <QWidget>
#include <memory>

class CPTGraph;

class CPTGraphHostingView : public QWidget {
public:
    // Resizing rules relative to the parent widget.
    static constexpr int kWidthSizable = 2;
    static constexpr int kHeightSizable = 16;

    explicit CPTGraphHostingView(const QRectF& frame, QWidget* parent = nullptr);
    ~CPTGraphHostingView() override;

    std::shared_ptr<CPTGraph> hostedGraph() const { return hostedGraph_; }
    // The graph takes this view's bounds as its frame.
    void setHostedGraph(std::shared_ptr<CPTGraph> graph);

    // With kWidthSizable / kHeightSizable the view grows and shrinks with its parent.
    int autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(int mask) { autoresizingMask_ = mask; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void watchParent();

    std::shared_ptr<CPTGraph> hostedGraph_;
    int autoresizingMask_ = 0;
    QWidget* watchedParent_ = nullptr;
    QSize lastParentSize_;
};
