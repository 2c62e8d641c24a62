#include "engine/thread_vellumcast.h"

#include "engine/walk.h"
#include "support/product.h"

TThreadVellumcast::TThreadVellumcast()
    : title("Vellumcast!"), footertext(std::string("Vellumcast: ") + kHomePageAddress) {}

TThreadVellumcast::~TThreadVellumcast() { WaitFor(); }

void TThreadVellumcast::Execute() {
  {
    TFolderWalk walk(*this);
    walk.IndexFolder(0, path.c_str());
  }
  PostToOwner(*this, WM_INDEX_DONE);
}
