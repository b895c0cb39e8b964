// The surfaces of this process, their stacking and composition, and input routed to them.
#include "gui/desktop.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace tavrin::gui {

namespace {

constexpr int kMaxSide = 16384;

draw::Rect ScreenFromEnvironment() {
  draw::Rect screen{0, 0, 1024, 768};
  if (const char* text = getenv("TAVRIN_SCREEN")) {
    int w = 0, h = 0;
    if (sscanf(text, "%dx%d", &w, &h) == 2 && w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide)
      screen = draw::Rect{0, 0, w, h};
  }
  return screen;
}

}  // namespace

Desktop::Desktop() : screen_(ScreenFromEnvironment()) {}

draw::Rect Desktop::ScreenBounds() const {
  std::lock_guard guard(lock_);
  return screen_;
}

void Desktop::SetScreenSize(int width, int height) {
  std::lock_guard guard(lock_);
  screen_ = draw::Rect{0, 0, std::clamp(width, 1, kMaxSide), std::clamp(height, 1, kMaxSide)};
}

template <typename Call>
void Desktop::Tell(Call call) const {
  std::shared_lock guard(presentersLock_);
  for (Presenter* presenter : presenters_) call(*presenter);
}

SurfaceId Desktop::Create(const SurfaceState& state) {
  SurfaceId id;
  {
    std::lock_guard guard(lock_);
    id = nextId_++;
    Entry& entry = surfaces_[id];
    entry.state = state;
    entry.pixels = std::make_shared<draw::Surface>(std::max(state.rect.width(), 0),
                                                   std::max(state.rect.height(), 0), draw::Rgb(255, 255, 255));
    entry.shown = std::make_shared<Shown>();
    entry.shown->image = *entry.pixels;
    stack_.insert(stack_.begin(), id);
  }
  return id;
}

void Desktop::Destroy(SurfaceId id) {
  {
    std::lock_guard guard(lock_);
    if (!surfaces_.erase(id)) return;
    std::erase(stack_, id);
    for (SurfaceId* held : {&capture_, &focus_, &hover_})
      if (*held == id) *held = 0;
  }
  Tell([id](Presenter& presenter) { presenter.SurfaceDestroyed(id); });
}

void Desktop::Update(SurfaceId id, const SurfaceState& state, bool announce) {
  {
    std::lock_guard guard(lock_);
    auto it = surfaces_.find(id);
    if (it == surfaces_.end()) return;
    it->second.state = state;
  }
  if (announce) Tell([id](Presenter& presenter) { presenter.SurfaceChanged(id); });
}

bool Desktop::State(SurfaceId id, SurfaceState& state) const {
  std::lock_guard guard(lock_);
  auto it = surfaces_.find(id);
  if (it == surfaces_.end()) return false;
  state = it->second.state;
  return true;
}

std::shared_ptr<draw::Surface> Desktop::Pixels(SurfaceId id) const {
  std::lock_guard guard(lock_);
  auto it = surfaces_.find(id);
  return it == surfaces_.end() ? nullptr : it->second.pixels;
}

std::shared_ptr<draw::Surface> Desktop::Resize(SurfaceId id, int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  std::lock_guard guard(lock_);
  auto it = surfaces_.find(id);
  if (it == surfaces_.end()) return nullptr;
  auto& pixels = it->second.pixels;
  if (!pixels || pixels->width() != width || pixels->height() != height)
    pixels = std::make_shared<draw::Surface>(width, height, draw::Rgb(255, 255, 255));
  return pixels;
}

bool Desktop::Snapshot(SurfaceId id, draw::Surface& image) const {
  std::shared_ptr<Shown> shown;
  {
    std::lock_guard guard(lock_);
    auto it = surfaces_.find(id);
    if (it == surfaces_.end()) return false;
    shown = it->second.shown;
  }
  std::lock_guard guard(shown->lock);
  image = shown->image;
  return true;
}

std::vector<SurfaceId> Desktop::Stack() const {
  std::lock_guard guard(lock_);
  return stack_;
}

void Desktop::SetStack(const std::vector<SurfaceId>& topFirst) {
  {
    std::lock_guard guard(lock_);
    std::vector<SurfaceId> order;
    order.reserve(stack_.size());
    for (SurfaceId id : topFirst)
      if (surfaces_.count(id) && std::find(order.begin(), order.end(), id) == order.end()) order.push_back(id);
    // Surfaces the toolkit left out keep their order below the ones it placed.
    for (SurfaceId id : stack_)
      if (std::find(order.begin(), order.end(), id) == order.end()) order.push_back(id);
    if (order == stack_) return;
    stack_ = std::move(order);
  }
  Tell([](Presenter& presenter) { presenter.StackChanged(); });
}

void Desktop::Raise(SurfaceId id) {
  {
    std::lock_guard guard(lock_);
    if (!surfaces_.count(id)) return;
    std::erase(stack_, id);
    stack_.insert(stack_.begin(), id);
  }
  Tell([id](Presenter& presenter) { presenter.SurfaceChanged(id); });
}

void Desktop::Lower(SurfaceId id) {
  {
    std::lock_guard guard(lock_);
    if (!surfaces_.count(id)) return;
    std::erase(stack_, id);
    stack_.push_back(id);
  }
  Tell([id](Presenter& presenter) { presenter.SurfaceChanged(id); });
}

SurfaceId Desktop::AtLocked(draw::Point screen) const {
  for (SurfaceId id : stack_) {
    const Entry& entry = surfaces_.at(id);
    if (entry.state.visible && entry.state.rect.contains(screen.x, screen.y)) return id;
  }
  return 0;
}

SurfaceId Desktop::At(draw::Point screen) const {
  std::lock_guard guard(lock_);
  return AtLocked(screen);
}

void Desktop::Damage(SurfaceId id, const draw::Rect& rect) {
  std::shared_ptr<draw::Surface> pixels;
  std::shared_ptr<Shown> shown;
  {
    std::lock_guard guard(lock_);
    auto it = surfaces_.find(id);
    if (it == surfaces_.end()) return;
    it->second.held = false;
    pixels = it->second.pixels;
    shown = it->second.shown;
  }
  {
    // The drawing thread is here, between its drawings: the one moment the pixels hold still.
    std::lock_guard guard(shown->lock);
    if (shown->image.width() != pixels->width() || shown->image.height() != pixels->height()) {
      shown->image = *pixels;
    } else {
      const draw::Rect part = rect.intersect(pixels->bounds());
      for (int y = part.top; y < part.bottom; ++y)
        std::copy(pixels->row(y) + part.left, pixels->row(y) + part.right, shown->image.row(y) + part.left);
    }
  }
  Tell([id, rect](Presenter& presenter) { presenter.SurfaceDamaged(id, rect); });
}

void Desktop::HoldUntilDrawn(SurfaceId id) {
  std::lock_guard guard(lock_);
  auto it = surfaces_.find(id);
  if (it != surfaces_.end()) it->second.held = true;
}

draw::Surface Desktop::Compose(const PixelSource& source) const {
  struct Layer {
    SurfaceId id;
    SurfaceState state;
    std::shared_ptr<Shown> shown;
  };
  std::vector<Layer> layers;  // bottom first
  draw::Rect screenBounds;
  {
    std::lock_guard guard(lock_);
    screenBounds = screen_;
    for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
      const Entry& entry = surfaces_.at(*it);
      if (!entry.state.visible || (!source && entry.held)) continue;
      layers.push_back({*it, entry.state, entry.shown});
    }
  }
  draw::Surface screen(screenBounds.width(), screenBounds.height(), kDesktopColour);
  draw::Surface asked;
  auto put = [&screen](const draw::Surface& image, const draw::Rect& area) {
    const draw::Rect shown = draw::Rect{area.left, area.top, area.left + image.width(), area.top + image.height()}
                                 .intersect(screen.bounds());
    for (int y = shown.top; y < shown.bottom; ++y) {
      const draw::Pixel* from = image.row(y - area.top) + (shown.left - area.left);
      std::copy(from, from + shown.width(), screen.row(y) + shown.left);
    }
  };
  for (const Layer& layer : layers) {
    if (layer.state.shadow) CastShadow(screen, layer.state.rect, layer.state.shape);
    if (source) {
      if (source(layer.state, layer.id, asked)) put(asked, layer.state.rect);
      continue;
    }
    std::lock_guard guard(layer.shown->lock);
    put(layer.shown->image, layer.state.rect);
  }
  return screen;
}

void Desktop::SetInput(SurfaceId id, PointerHandler pointer, KeyHandler key) {
  std::lock_guard guard(lock_);
  auto it = surfaces_.find(id);
  if (it == surfaces_.end()) return;
  it->second.pointer = std::move(pointer);
  it->second.key = std::move(key);
}

void Desktop::SetDefaultInput(PointerHandler pointer, KeyHandler key) {
  std::lock_guard guard(lock_);
  defaultPointer_ = std::move(pointer);
  defaultKey_ = std::move(key);
}

void Desktop::SetPlaceHandler(PlaceHandler handler) {
  std::lock_guard guard(lock_);
  placeHandler_ = std::move(handler);
}

void Desktop::Placed(SurfaceId id, std::optional<draw::Point> topLeft) {
  PlaceHandler handler;
  {
    std::lock_guard guard(lock_);
    if (!surfaces_.count(id)) return;
    handler = placeHandler_;
  }
  if (handler) handler(id, topLeft);
}

void Desktop::Pointer(PointerEvent event, SurfaceId origin) {
  PointerHandler handler;
  SurfaceId target = 0;
  {
    std::lock_guard guard(lock_);
    if (event.kind == PointerEvent::Kind::kLeave) {
      target = hover_ ? hover_ : origin;
      hover_ = 0;
    } else {
      SurfaceId under = AtLocked(event.screen);
      hover_ = under;
      target = capture_ ? capture_ : under ? under : origin;
    }
    auto it = surfaces_.find(target);
    if (it == surfaces_.end()) target = 0;
    if (target) event.local = draw::Point{event.screen.x - it->second.state.rect.left,
                                          event.screen.y - it->second.state.rect.top};
    handler = target && it->second.pointer ? it->second.pointer : defaultPointer_;
  }
  if (handler) handler(target, event);
}

void Desktop::Key(const KeyEvent& event, SurfaceId origin) {
  KeyHandler handler;
  SurfaceId target;
  {
    std::lock_guard guard(lock_);
    target = focus_ ? focus_ : origin;
    auto it = surfaces_.find(target);
    if (it == surfaces_.end()) target = 0;
    handler = target && it->second.key ? it->second.key : defaultKey_;
  }
  if (handler) handler(target, event);
}

void Desktop::SetCapture(SurfaceId id) {
  std::lock_guard guard(lock_);
  capture_ = surfaces_.count(id) ? id : 0;
}

SurfaceId Desktop::Capture() const {
  std::lock_guard guard(lock_);
  return capture_;
}

void Desktop::SetFocus(SurfaceId id) {
  std::lock_guard guard(lock_);
  focus_ = surfaces_.count(id) ? id : 0;
}

SurfaceId Desktop::Focus() const {
  std::lock_guard guard(lock_);
  return focus_;
}

void Desktop::AddPresenter(Presenter* presenter) {
  std::unique_lock guard(presentersLock_);
  if (std::find(presenters_.begin(), presenters_.end(), presenter) == presenters_.end())
    presenters_.push_back(presenter);
}

void Desktop::RemovePresenter(Presenter* presenter) {
  std::unique_lock guard(presentersLock_);
  std::erase(presenters_, presenter);
}

Desktop& TheDesktop() {
  static auto* desktop = new Desktop;  // never destroyed: windows may outlive static destruction
  return *desktop;
}

}  // namespace tavrin::gui
