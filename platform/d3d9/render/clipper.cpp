#include "platform/d3d9/render/clipper.h"

namespace render {

namespace {

float Distance(uint32_t plane, const float c[4], const ViewportMap& vp) {
    switch (plane) {
        case kOutNear: return c[2];
        case kOutFar: return c[3] - c[2];
        case kGuardLeft: return c[0] + vp.guardX * c[3];
        case kGuardRight: return vp.guardX * c[3] - c[0];
        case kGuardBottom: return c[1] + vp.guardY * c[3];
        case kGuardTop: return vp.guardY * c[3] - c[1];
        default: return c[3] - kMinW;  // kBehind
    }
}

}  // namespace

int ClipPolygon(ClipVertex* in, int count, uint32_t planes, int varyingCount, const ViewportMap& vp,
                ClipVertex* scratch, ClipVertex** result) {
    static constexpr uint32_t kOrder[] = {kBehind, kOutNear, kOutFar, kGuardLeft, kGuardRight, kGuardBottom, kGuardTop};
    ClipVertex* src = in;
    ClipVertex* dst = scratch;
    for (uint32_t plane : kOrder) {
        if (!(planes & plane)) continue;
        float d[kMaxClipVertices];
        bool anyOut = false;
        for (int i = 0; i < count; ++i) {
            d[i] = Distance(plane, src[i].c, vp);
            anyOut |= !(d[i] >= 0);
        }
        if (!anyOut) continue;
        int n = 0;
        for (int i = 0; i < count && n < kMaxClipVertices - 1; ++i) {
            const int j = (i + 1) % count;
            const bool inI = d[i] >= 0, inJ = d[j] >= 0;
            if (inI) dst[n++] = src[i];
            if (inI != inJ) {
                // From the inside vertex towards the outside one.
                const ClipVertex& a = inI ? src[i] : src[j];
                const ClipVertex& b = inI ? src[j] : src[i];
                const float da = inI ? d[i] : d[j], db = inI ? d[j] : d[i];
                const float t = da / (da - db);
                ClipVertex& o = dst[n++];
                for (int k = 0; k < 4; ++k) o.c[k] = a.c[k] + t * (b.c[k] - a.c[k]);
                for (int k = 0; k < varyingCount; ++k) o.v[k] = a.v[k] + t * (b.v[k] - a.v[k]);
            }
        }
        count = n;
        ClipVertex* t = src;
        src = dst;
        dst = t == in ? scratch + kMaxClipVertices : t;
        if (count < 3) {
            *result = src;
            return 0;
        }
    }
    *result = src;
    return count;
}

}  // namespace render
