// Anchors the compiled-in pictures (":/pictures/...") in a library of their own.
namespace tkb::assets {
int pictureLibrary() { return 0; }
}  // namespace tkb::assets
