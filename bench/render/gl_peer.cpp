#include "bench/render/gl_peer.h"

#ifdef VINTREL_HAVE_GL_PEER

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstring>

namespace bench {

namespace {

// Row-vector Direct3D matrices load as they are: GL reads them column by
// column, which transposes them, and transposing turns v * M into M^T * v.
// Depth maps [0, w] to [-w, w] for GL's clip volume.
void LoadProjection(const D3DMATRIX& m) {
    float a[16];
    std::memcpy(a, m.m, sizeof a);
    for (int row = 0; row < 4; ++row) a[row * 4 + 2] = 2 * a[row * 4 + 2] - a[row * 4 + 3];
    glLoadMatrixf(a);
}

}  // namespace

bool GlPeer::Init(const Scene& scene, std::string& error) {
    scene_ = &scene;
    EGLDisplay display = EGL_NO_DISPLAY;
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay) display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY) display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
        error = "no EGL display";
        return false;
    }
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_NONE};
    EGLConfig config;
    EGLint count = 0;
    if (!eglBindAPI(EGL_OPENGL_API) || !eglChooseConfig(display, configAttributes, &config, 1, &count) || count < 1) {
        error = "no desktop OpenGL config";
        return false;
    }
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        error = "no surfaceless OpenGL context";
        return false;
    }
    renderer_ = reinterpret_cast<const char*>(glGetString(GL_RENDERER));

    // The target: R5G6B5 colour and 16-bit depth, as the device's back buffer.
    GLuint framebuffer, renderbuffers[2];
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glGenRenderbuffers(2, renderbuffers);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[0]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGB565, kWidth, kHeight);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffers[0]);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[1]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, kWidth, kHeight);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, renderbuffers[1]);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        error = "R5G6B5 framebuffer incomplete";
        return false;
    }
    glViewport(0, 0, kWidth, kHeight);

    glGenTextures(3, textures_);
    for (int t = 0; t < 3; ++t) {
        const MipChain& chain = t < 2 ? scene.textures[t] : scene.font;
        glBindTexture(GL_TEXTURE_2D, textures_[t]);
        for (size_t l = 0; l < chain.levels.size(); ++l)
            glTexImage2D(GL_TEXTURE_2D, GLint(l), GL_RGBA8, std::max(1, chain.width >> l), std::max(1, chain.height >> l), 0,
                         GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, chain.levels[l].data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, GLint(chain.levels.size() - 1));
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, t < 2 ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    }
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);

    glGenBuffers(2, buffers_);
    glBindBuffer(GL_ARRAY_BUFFER, buffers_[0]);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(scene.vertices.size() * sizeof(TerrainVertex)), scene.vertices.data(),
                 GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers_[1]);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(scene.indices.size() * 2), scene.indices.data(), GL_STATIC_DRAW);

    // Fixed state as the device's: light, material, fog, blending, depth.
    const float zero[4] = {0, 0, 0, 0};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, zero);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_TRUE);
    const D3DLIGHT9& l = scene.light;
    const float diffuse[4] = {l.Diffuse.r, l.Diffuse.g, l.Diffuse.b, 1}, ambient[4] = {l.Ambient.r, l.Ambient.g, l.Ambient.b, 1};
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_SPECULAR, zero);
    const D3DMATERIAL9& m = scene.material;
    const float md[4] = {m.Diffuse.r, m.Diffuse.g, m.Diffuse.b, 1}, ma[4] = {m.Ambient.r, m.Ambient.g, m.Ambient.b, 1};
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, md);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ma);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, zero);
    glFogi(GL_FOG_MODE, GL_LINEAR);
    glFogf(GL_FOG_START, scene.fogStart);
    glFogf(GL_FOG_END, scene.fogEnd);
    const float fog[4] = {((scene.fogColor >> 16) & 0xFF) / 255.0f, ((scene.fogColor >> 8) & 0xFF) / 255.0f,
                          (scene.fogColor & 0xFF) / 255.0f, 1};
    glFogfv(GL_FOG_COLOR, fog);
    glHint(GL_FOG_HINT, GL_NICEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glEnable(GL_DITHER);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_TEXTURE_2D);
    glCullFace(GL_BACK);
    glClearColor(0.2f, 0.4f, 0.6f, 1);
    glClearDepth(1);
    return glGetError() == GL_NO_ERROR || (error = "GL error during set-up", false);
}

void GlPeer::DrawFrame() {
    const Scene& s = *scene_;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    // The height field.
    glMatrixMode(GL_PROJECTION);
    LoadProjection(s.projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(&s.view.m[0][0]);
    const float toLight[4] = {-s.light.Direction.x, -s.light.Direction.y, -s.light.Direction.z, 0};
    glLightfv(GL_LIGHT0, GL_POSITION, toLight);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_FOG);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glBindBuffer(GL_ARRAY_BUFFER, buffers_[0]);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers_[1]);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(TerrainVertex), reinterpret_cast<void*>(0));
    glNormalPointer(GL_FLOAT, sizeof(TerrainVertex), reinterpret_cast<void*>(12));
    glTexCoordPointer(2, GL_FLOAT, sizeof(TerrainVertex), reinterpret_cast<void*>(24));
    const GLsizei half = GLsizei(s.indices.size() / 2);
    for (int h = 0; h < 2; ++h) {
        glBindTexture(GL_TEXTURE_2D, textures_[h]);
        glDrawElements(GL_TRIANGLES, half, GL_UNSIGNED_SHORT, reinterpret_cast<void*>(size_t(h) * half * 2));
    }
    glDisableClientState(GL_NORMAL_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);

    // The overlay: pixel coordinates, one small fan per call from client memory.
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glDisable(GL_CULL_FACE);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kWidth, kHeight, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor4f(1, 1, 1, 1);
    glBindTexture(GL_TEXTURE_2D, textures_[2]);
    for (int q = 0; q < kOverlayQuads; ++q) {
        const OverlayVertex* v = s.overlay.data() + size_t(q) * 4;
        glVertexPointer(3, GL_FLOAT, sizeof(OverlayVertex), &v->x);
        glTexCoordPointer(2, GL_FLOAT, sizeof(OverlayVertex), &v->u);
        glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
    }
    glFinish();
}

}  // namespace bench

#else

namespace bench {
bool GlPeer::Init(const Scene&, std::string& error) {
    error = "built without EGL and OpenGL";
    return false;
}
void GlPeer::DrawFrame() {}
}  // namespace bench

#endif
