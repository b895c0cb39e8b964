// The window core: the top-level surfaces of this process on one screen, their stacking, damage and
// composition, and pointer and keyboard input routed to them. A toolkit keeps its own windows' meaning
// (messages, classes, frames, its stacking rules) and mirrors each top-level window here as a surface;
// presenters show the surfaces somewhere (an X display) and feed input back through Pointer() and Key().
// One lock guards the desktop; it is never held while a presenter or an input handler runs, so either
// may call back in.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "draw/region.h"
#include "draw/surface.h"

namespace tavrin::gui {

using SurfaceId = uint64_t;  // 0 names no surface

// The screen's colour where no surface is.
constexpr draw::Pixel kDesktopColour = 0x003A6EA5;

struct SurfaceState {
  draw::Rect rect;       // screen coordinates
  bool visible = false;  // shown (a minimised window is not)
  bool popup = false;    // shown without a window manager's frame: menus, tips, drop lists
  std::string title;
  std::string role;      // what kind of window it is, in the toolkit's words ("window", "dialog", "menu"...)
  uintptr_t handle = 0;  // the toolkit's own handle of the window
  // An icon of the notification area: a presenter docks it into the display's system tray where there is
  // one, and shows it as its own window where there is none.
  bool trayIcon = false;
  // A shadow cast on what is beneath (composed screens only: an X display draws none), in the shape of
  // `shape` (surface coordinates) where the toolkit gives one, else of the whole rectangle.
  bool shadow = false;
  draw::Region shape;
};

// The shadow a surface casts: its shape moved down by kShadowDrop pixels, softened over kShadowBlur pixels
// each side, darkening what is beneath by up to kShadowDarkness of 255.
constexpr int kShadowDrop = 5, kShadowBlur = 8, kShadowDarkness = 110;
void CastShadow(draw::Surface& screen, const draw::Rect& rect, const draw::Region& shape);

enum class PointerButton { kLeft, kRight, kMiddle };

struct PointerEvent {
  enum class Kind { kMove, kPress, kRelease, kLeave };  // kLeave: off every surface
  Kind kind = Kind::kMove;
  PointerButton button = PointerButton::kLeft;
  draw::Point screen;  // screen coordinates
  draw::Point local;   // in the receiving surface: filled in by the routing
  // When the person pressed or released, where the presenter knows it (a double click is two presses
  // close in this time, however late a busy computer handles them); the epoch when it does not.
  std::chrono::steady_clock::time_point when{};
};

// Keys by our own codes: a letter or digit is kCharacter with its upper-case character, F1..F12 are
// kFunction with their number.
enum class Key {
  kNone, kCharacter, kFunction, kReturn, kEscape, kBackspace, kTab, kSpace, kLeft, kRight, kUp, kDown,
  kHome, kEnd, kPageUp, kPageDown, kInsert, kDelete, kShift, kControl, kAlt
};

struct KeyEvent {
  Key key = Key::kNone;
  int detail = 0;  // kCharacter: 'A'..'Z' or '0'..'9'; kFunction: 1..12
  bool down = true;
};

// Told when surfaces change, go, or are drawn on. SurfaceDamaged runs on the thread that drew, right
// after it drew: the one moment its pixels can be copied with nothing drawing on them.
struct Presenter {
  virtual ~Presenter() = default;
  virtual void SurfaceChanged(SurfaceId id) = 0;  // shown, hidden, moved, resized, retitled, restacked
  virtual void SurfaceDestroyed(SurfaceId id) = 0;
  virtual void SurfaceDamaged(SurfaceId id, const draw::Rect& rect) = 0;  // rect in surface coordinates
  // The whole order was set anew (SetStack); Raise and Lower tell SurfaceChanged of the one they moved.
  virtual void StackChanged() {}
};

using PointerHandler = std::function<void(SurfaceId target, const PointerEvent& event)>;
using KeyHandler = std::function<void(SurfaceId target, const KeyEvent& event)>;
// Where a surface's top-left corner shows; nothing once it shows at its own rectangle again.
using PlaceHandler = std::function<void(SurfaceId id, std::optional<draw::Point> topLeft)>;

class Desktop {
 public:
  Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  // The screen (1024x768 unless TAVRIN_SCREEN=WxH or SetScreenSize says otherwise).
  draw::Rect ScreenBounds() const;
  void SetScreenSize(int width, int height);

  // A new surface on top of the stack, its pixels white.
  SurfaceId Create(const SurfaceState& state);
  void Destroy(SurfaceId id);
  // A new state; presenters hear of it when `announce`.
  void Update(SurfaceId id, const SurfaceState& state, bool announce = true);
  bool State(SurfaceId id, SurfaceState& state) const;
  // The surface's pixels, sized to its rectangle when Resize last ran. A new size gives new pixels: whoever
  // still draws on the old ones draws nowhere visible. Only the thread drawing may read them.
  std::shared_ptr<draw::Surface> Pixels(SurfaceId id) const;
  std::shared_ptr<draw::Surface> Resize(SurfaceId id, int width, int height);
  // A copy of the surface as last drawn (as it stood at its last Damage); false for no such surface.
  bool Snapshot(SurfaceId id, draw::Surface& image) const;

  // Stacking, top first. A toolkit with stacking rules of its own sets the whole order.
  std::vector<SurfaceId> Stack() const;
  void SetStack(const std::vector<SurfaceId>& topFirst);
  void Raise(SurfaceId id);
  void Lower(SurfaceId id);
  // The topmost shown surface under a screen point; 0 for none.
  SurfaceId At(draw::Point screen) const;

  // Damage: the thread that drew tells. The damaged part is copied to what the desktop shows (any other
  // thread may be drawing on the pixels at any other moment), then presenters hear of it.
  void Damage(SurfaceId id, const draw::Rect& rect);
  // A shown surface that stands for nothing until it first draws: the screen beneath keeps showing.
  void HoldUntilDrawn(SurfaceId id);

  // The screen composed bottom to top over the desktop colour. Without a source the surfaces as last drawn
  // are taken (those held until drawn left out); a source is asked for each shown surface's pixels
  // (false leaves it out), outside the desktop's lock.
  using PixelSource = std::function<bool(const SurfaceState& state, SurfaceId id, draw::Surface& image)>;
  draw::Surface Compose(const PixelSource& source = {}) const;

  // Input. Pointer events go to the capture, else to the surface under the point, else to `origin` (the
  // surface the presenter saw it on); leaving goes where the pointer last was. Keys go to the focus, else to
  // `origin`. A surface without handlers of its own has the default handlers.
  void SetInput(SurfaceId id, PointerHandler pointer, KeyHandler key);
  void SetDefaultInput(PointerHandler pointer, KeyHandler key);
  // A presenter that shows a surface elsewhere than its rectangle (an icon a system tray placed) tells
  // where; the toolkit's handler may move its window there, so that what opens beside it (a tip, a menu
  // at the pointer) opens beside it on the display too.
  void SetPlaceHandler(PlaceHandler handler);
  void Placed(SurfaceId id, std::optional<draw::Point> topLeft);
  void Pointer(PointerEvent event, SurfaceId origin = 0);
  void Key(const KeyEvent& event, SurfaceId origin = 0);
  void SetCapture(SurfaceId id);  // 0 releases it
  SurfaceId Capture() const;
  void SetFocus(SurfaceId id);
  SurfaceId Focus() const;

  void AddPresenter(Presenter* presenter);
  // Returns once no call into the presenter is running.
  void RemovePresenter(Presenter* presenter);

 private:
  // What a surface showed at its last damage; its own lock, so that copying it holds up nothing else.
  struct Shown {
    std::mutex lock;
    draw::Surface image;
  };
  struct Entry {
    SurfaceState state;
    std::shared_ptr<draw::Surface> pixels;
    std::shared_ptr<Shown> shown;
    bool held = false;
    PointerHandler pointer;
    KeyHandler key;
  };
  template <typename Call>
  void Tell(Call call) const;
  SurfaceId AtLocked(draw::Point screen) const;

  mutable std::mutex lock_;
  draw::Rect screen_;
  std::map<SurfaceId, Entry> surfaces_;
  std::vector<SurfaceId> stack_;  // top first
  SurfaceId nextId_ = 1;
  SurfaceId capture_ = 0, focus_ = 0, hover_ = 0;
  PointerHandler defaultPointer_;
  KeyHandler defaultKey_;
  PlaceHandler placeHandler_;

  mutable std::shared_mutex presentersLock_;  // held shared while a presenter runs
  std::vector<Presenter*> presenters_;
};

// The desktop of this process.
Desktop& TheDesktop();

}  // namespace tavrin::gui
