#include "orlendi/render_script.h"

namespace kavelo::orlendi {

// Run by kPythonPath -I.  With the arguments HTML CSS PDF ERRORFILE ASSETS it
// renders one document and exits 1 with the reason in ERRORFILE on failure
// (the cold path).  With --kavelo-worker FOLDER DOCUMENTS RSS IDLE READY it
// is the warm worker: WeasyPrint imported once, one document per request on
// FOLDER/render.sock (the system fonts loaded once and kept while no
// document adds fonts of its own); it closes descriptor READY once the
// socket answers.  Both read the two files directly; through the
// document only data: URLs and, when ASSETS names a folder, the regular
// files inside it (symbolic links resolved first) can be fetched.  No other
// local file, and nothing from the network.  Attachments, which would carry
// whole files into the PDF, are kept only when they are data: URLs.
const char kRenderScript[] = R"PY(
import logging, os, stat, sys, urllib.parse, urllib.request


def render(weasyprint, html, css, pdf, assets, fonts=None):
    # One document; a fresh URL fetcher and image cache each time, and a
    # fresh font configuration unless fonts (the system fonts alone) is
    # given, so nothing fetched for one document serves the next.
    assets = os.path.realpath(assets) if assets.startswith("/") else ""

    def asset(url):
        parts = urllib.parse.urlsplit(url)
        if not assets or parts.netloc not in ("", "localhost"):
            return None
        path = os.path.realpath(urllib.request.url2pathname(parts.path))
        return path if path.startswith(assets + os.sep) else None

    def fetch(url, timeout=10, ssl_context=None):
        scheme = url.partition(":")[0].lower()
        if scheme == "data":
            return weasyprint.default_url_fetcher(url, timeout=timeout, ssl_context=ssl_context)
        path = asset(url) if scheme == "file" else None
        if path is None:
            raise ValueError("not an allowed resource: " + url[:200])
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            os.close(fd)
            raise ValueError("not a regular file: " + url[:200])
        return dict(file_obj=os.fdopen(fd, "rb"), redirected_url=url)

    def inline(url):
        return isinstance(url, str) and url.lower().startswith("data:")

    document = weasyprint.HTML(filename=html, url_fetcher=fetch).render(
        stylesheets=[weasyprint.CSS(filename=css, font_config=fonts)], image_cache={},
        font_config=fonts)
    document.metadata.attachments = [
        a for a in document.metadata.attachments if inline(a[0])]
    for page in document.pages:
        page.links = [l for l in page.links if l[0] != "attachment" or inline(l[1])]
    document.write_pdf(pdf)


def load_weasyprint():
    # WeasyPrint tries the library names of other systems before the Linux
    # sonames, and cffi looks each miss up with ctypes.util.find_library,
    # which runs ldconfig, gcc and ld (about 0.15 s for every start).  The
    # sonames load directly, so the look-up is left out; should a library
    # then be missing, the import is tried again the usual way.
    import ctypes.util
    search = ctypes.util.find_library
    ctypes.util.find_library = lambda name: None
    try:
        import weasyprint
    except OSError:
        for name in [m for m in sys.modules if m.split(".")[0] == "weasyprint"]:
            del sys.modules[name]
        ctypes.util.find_library = search
        import weasyprint
    finally:
        ctypes.util.find_library = search
    return weasyprint


def report(errors, failure):
    with open(errors, "w", encoding="utf-8", errors="replace") as out:
        out.write(("%s: %s" % (type(failure).__name__, failure))[:600])


def cold(html, css, pdf, errors, assets):
    try:
        weasyprint = load_weasyprint()
        logging.getLogger("weasyprint").setLevel(logging.ERROR)
        render(weasyprint, html, css, pdf, assets)
    except BaseException as failure:
        report(errors, failure)
        sys.exit(1)


def serve(folder, max_documents, max_rss, idle_seconds, ready):
    # The warm worker: WeasyPrint imported once, one document per
    # connection from a process of this account, answered "0" (rendered)
    # or "1" (failed, the reason in the error file).  Ends after
    # idle_seconds without a request, and after answering once it has
    # rendered max_documents or holds more than max_rss bytes.  What a
    # document leaves is cleared after its answer, so the client does not
    # wait for it.
    import ctypes, gc, shutil, socket, struct, tempfile
    weasyprint = load_weasyprint()
    try:
        from weasyprint.text.fonts import FontConfiguration

        class SystemFonts(FontConfiguration):
            # Loading the system fonts takes a good part of a small
            # document, so one configuration serves one document after the
            # other.  A document that adds a font (@font-face) marks it
            # used: it is replaced before the next document.
            used = False

            def add_font_face(self, *args, **kwargs):
                self.used = True
                return super().add_font_face(*args, **kwargs)
    except ImportError:
        SystemFonts = None

    def fresh_fonts():
        return SystemFonts() if SystemFonts is not None else None

    try:
        trim = ctypes.CDLL("libc.so.6").malloc_trim
    except (OSError, AttributeError):
        trim = lambda pad: 0
    # WeasyPrint's one cache across documents: fonts per PDF stream, which
    # holds on to the streams (the pages) of up to 128 earlier documents.
    try:
        from weasyprint.pdf.stream import Stream
        stream_caches = [Stream.add_font]
    except ImportError:
        stream_caches = []
    logging.getLogger("weasyprint").setLevel(logging.ERROR)
    path = os.path.join(folder, "render.sock")
    # Scratch folders of a worker that was killed.
    for name in os.listdir(folder):
        if name.startswith(("job-", "weasyprint-")):
            shutil.rmtree(os.path.join(folder, name), ignore_errors=True)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    staging = "%s.%d" % (path, os.getpid())
    try:
        os.unlink(staging)
    except FileNotFoundError:
        pass
    listener.bind(staging)
    listener.listen(16)
    own = os.stat(staging).st_ino
    os.rename(staging, path)
    # The starter waits for this descriptor to close: the socket answers now.
    try:
        os.close(ready)
    except OSError:
        pass

    def release():
        # The socket path goes only while it is still this worker's.
        try:
            if os.stat(path).st_ino == own:
                os.unlink(path)
        except OSError:
            pass

    page = os.sysconf("SC_PAGE_SIZE")
    fonts = fresh_fonts()
    # What is loaded by now lives as long as the worker: it is moved out of
    # the collector's way, so the collection after each document looks only
    # at what that document made.
    gc.collect()
    gc.freeze()
    listener.settimeout(idle_seconds)
    rendered = 0
    while True:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            break
        retire = False
        with conn:
            pid, uid, gid = struct.unpack("3i", conn.getsockopt(
                socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("3i")))
            if uid != os.getuid():
                continue
            conn.settimeout(10)
            request = b""
            try:
                while len(request) <= 65536:
                    more = conn.recv(65536)
                    if not more:
                        break
                    request += more
            except OSError:
                continue
            fields = request.split(b"\0")
            if len(fields) != 6 or fields[5] or len(request) > 65536:
                continue
            html, css, pdf, errors, assets = (os.fsdecode(f) for f in fields[:5])
            answer = b"0"
            # WeasyPrint's temporary files (fonts of @font-face rules) go
            # into a folder of this request, removed with all it holds.
            tempfile.tempdir = tempfile.mkdtemp(prefix="job-", dir=folder)
            try:
                render(weasyprint, html, css, pdf, assets, fonts)
            except BaseException as failure:
                answer = b"1"
                retire = isinstance(failure, MemoryError)
                try:
                    report(errors, failure)
                except OSError:
                    pass
            rendered += 1
            retire = retire or rendered >= max_documents
            if retire:
                release()
            try:
                conn.sendall(answer)
            except OSError:
                pass
        # What the document left goes back to the system, so the worker's
        # memory stays what a fresh one holds, and a font configuration the
        # document added to is replaced.
        for cache in stream_caches:
            cache.cache_clear()
        shutil.rmtree(tempfile.tempdir, ignore_errors=True)
        tempfile.tempdir = folder
        if fonts is not None and (fonts.used or answer != b"0"):
            fonts = None
            fonts = fresh_fonts()
        gc.collect()
        trim(0)
        with open("/proc/self/statm") as statm:
            rss = int(statm.read().split()[1]) * page
        if retire or rss > max_rss:
            break
    release()


if len(sys.argv) == 7 and sys.argv[1] == "--kavelo-worker":
    serve(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6]))
else:
    cold(*sys.argv[1:6])
)PY";

}  // namespace kavelo::orlendi
