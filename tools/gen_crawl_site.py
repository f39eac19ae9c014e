#!/usr/bin/env python3
"""Generates the crawl test site (and the benchmark's larger one), and the sitemap.htm and
urllist.txt that a crawl of it should give, from an independent model of the crawl: breadth-first,
links deduplicated after resolving and cutting fragments, off-site links and robots rules left
out, failed fetches not listed.

  gen_crawl_site.py site DIR BASE [--pages N]   write the pages (absolute links use BASE)
  gen_crawl_site.py expected DIR [--pages N]    write expected_sitemap.htm / expected_urllist.txt
                                                with the placeholder @BASE@ for the address
Deterministic: the same arguments give the same bytes. Files under /gz/ are stored compressed;
the server must send them with "Content-Encoding: gzip" (location /gz/ { add_header ... }).
"""
import argparse
import gzip
import os
import sys
from collections import deque

PLACEHOLDER = "@BASE@"
SECTIONS = 10
META_TAGS = ('<meta http-equiv="Content-Language" content="en" />\r\n'
             '<meta name="Robots" content="All" />\r\n'
             '<meta name="Rating" content="General" />\r\n'
             '<meta name="Distribution" content="Global" />')
TITLE = "Crawl test sitemap"
DESCRIPTION = "Every page of the crawl test site."
FOOTER_LINE = ('<a title="Tollwick: a free sitemap generator" '
               'href="http://www.brindlewood.example/tollwick/">Sitemap made with Tollwick</a> '
               'by Brindlewood')
END_OF_BODY = "<!-- end -->"


class Page:
    def __init__(self, path, title="", description="", keywords="", status=200):
        self.path = path            # URL path, e.g. "/s3/p-0042.html"
        self.title = title
        self.description = description
        self.keywords = keywords
        self.status = status        # 200, 404, or 301 (folder redirect)
        self.links = []             # (href as written, kind, target path or None)
        self.file = None            # file path under the root, None for 404 / redirect


def page_path(n):
    return "/index.html" if n == 0 else "/s%d/p-%04d.html" % (n % SECTIONS, n)


def relative(from_path, to_path):
    return os.path.relpath(to_path, os.path.dirname(from_path) or "/")


def build(pages_count):
    pages = {}
    for n in range(pages_count):
        p = Page(page_path(n), "Page %d" % n,
                 "Description of page %d." % n if n % 3 else "",
                 "page%d, test" % n if n % 4 else "")
        if n % 7 == 5:
            p.title = ""                       # no title: the address stands in
        pages[p.path] = p
    pages["/"] = pages["/index.html"]

    specials = [
        Page("/special/cp1252.html", "Caf\u00e9 \u201cquoted\u201d", "Windows-1252 page", "charset"),
        Page("/special/meta-utf8.html", "Gr\u00fc\u00dfe aus M\u00fcnchen", "Only meta charset", ""),
        Page("/gz/page.html", "Compressed page", "Sent with gzip", "gzip"),
        Page("/list.html", "Listing", "A listing with a query", "list"),
        Page("/docs/", "Docs folder", "Reached by a redirect", "docs"),
        Page("/docs/guide.html", "Guide", "Linked relatively from the docs folder", "guide"),
        Page("/private/secret.html", "Secret", "", ""),
        Page("/Hidden/upper.html", "Hidden", "", ""),
    ]
    for s in specials:
        pages[s.path] = s
    pages["/docs"] = Page("/docs", status=301)
    pages["/missing.html"] = Page("/missing.html", status=404)

    # The tree: page n links to its children 10n+1 .. 10n+10 in mixed forms, and back to its
    # parent (already seen, so dropped).
    for n in range(pages_count):
        p = pages[page_path(n)]
        for c in range(10 * n + 1, min(10 * n + 11, pages_count)):
            target = page_path(c)
            form = c % 6
            if form == 0:
                href = '<a href="%s">' % relative(p.path, target)
            elif form == 1:
                href = '<A HREF="%s">' % target                       # upper-case tag, path
            elif form == 2:
                href = '<a href="%s%s">' % (PLACEHOLDER, target)       # absolute
            elif form == 3:
                href = "<a class=x href='%s#part'>" % relative(p.path, target)  # fragment
            elif form == 4:
                href = '<A Href=%s>' % relative(p.path, target)         # unquoted
            else:
                href = '<a href="./%s">' % relative(p.path, target)
            p.links.append((href, "page", target))
        if n:
            parent = page_path((n - 1) // 10)
            p.links.append(('<a href="%s">' % parent, "page", parent))

    index = pages["/index.html"]
    extra = [
        ('<a href="/special/cp1252.html">', "page", "/special/cp1252.html"),
        ('<a href="special/meta-utf8.html">', "page", "/special/meta-utf8.html"),
        ('<a href="/gz/page.html">', "page", "/gz/page.html"),
        ('<a href="list.html?a=1&amp;b=2">', "page", "/list.html?a=1&b=2"),
        ('<a href="list.html?a=1&b=2#x">', "page", "/list.html?a=1&b=2"),
        ('<a href="/docs">', "page", "/docs"),
        ('<a href="/missing.html">', "page", "/missing.html"),
        ('<a href="/private/secret.html">', "robots", "/private/secret.html"),
        ('<a href="/Hidden/upper.html">', "robots", "/Hidden/upper.html"),
        ('<a href="#top">', "avoid", None),
        ('<a href="mailto:someone@example.org">', "avoid", None),
        ('<a href="JavaScript:void(0)">', "avoid", None),
        ('<a href="/files/report.PDF">', "avoid", None),
        ('<a href="http://www.google.com/search?q=x">', "avoid", None),
        ('<a href="http://www.example.org/elsewhere">', "offsite", None),
        ('<a href="http://localhost/s1/p-0001.html">', "offsite", None),
    ]
    index.links = extra[:5] + index.links + extra[5:]
    pages["/docs/"].links = [('<a href="guide.html">', "page", "/docs/guide.html"),
                             ('<a href="../list.html">', "page", "/list.html")]
    return pages


def html_bytes(page, base):
    head = ["<html>", "<head>"]
    charset = "utf-8"
    if page.path == "/special/cp1252.html":
        charset = "cp1252"
        head.append('<meta http-equiv="Content-Type" content="text/html; charset=windows-1252">')
    elif page.path == "/special/meta-utf8.html":
        head.append('<meta charset="utf-8">')
    if page.title:
        head.append("<title>%s</title>" % page.title)
    if page.description:
        head.append('<meta name="description" content="%s">' % page.description)
    if page.keywords:
        head.append('<meta name="keywords" content="%s">' % page.keywords)
    body = ["</head>", "<body>", "<p>Links:</p>"]
    for href, _, _ in page.links:
        body.append(href.replace(PLACEHOLDER, base) + "link</a>")
    body += ["</body>", "</html>", ""]
    return "\n".join(head + body).encode(charset)


def write_site(root, base, pages_count):
    pages = build(pages_count)
    with open(os.path.join(root, "robots.txt"), "w") as f:
        f.write("# test rules\nUser-agent: *\nDisallow: /private/\nDisallow: /hidden/\n")
    done = set()
    for path, page in pages.items():
        if page.status != 200 or id(page) in done:
            continue
        done.add(id(page))
        rel = path.lstrip("/")
        if rel == "" or rel.endswith("/"):
            rel += "index.html"
        full = os.path.join(root, rel)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        data = html_bytes(page, base)
        if path.startswith("/gz/"):
            # Served as stored with "Content-Encoding: gzip" (see the nginx configuration).
            data = gzip.compress(data, mtime=0)
        with open(full, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(root, "docs"), exist_ok=True)


def crawl_model(pages_count):
    """The pages a crawl lists, in order, as paths (with query)."""
    pages = build(pages_count)
    start = "/"
    queue = deque([start])
    seen = {start}
    listed = []
    while queue:
        url = queue.popleft()
        page = pages.get(url.split("?")[0])
        if page is None or page.status == 404:
            continue
        listed.append(url)
        if page.status == 301:
            final = url + "/"
            seen.add(final)
            page = pages[final]
        for _, kind, target in page.links:
            if kind == "avoid":
                continue
            if kind == "offsite":
                continue   # recorded as outbound, never fetched
            if target in seen:
                continue
            seen.add(target)
            if kind == "robots":
                continue
            queue.append(target)
    return pages, listed


def escape(text, quote):
    text = text.replace("<", "&lt;").replace(">", "&gt;")
    return text.replace('"', "&quot;") if quote else text


def write_expected(directory, pages_count):
    pages, listed = crawl_model(pages_count)
    out = ["<html>\r\n", "<head>\r\n",
           '<meta http-equiv="Content-Type" content="text/html; charset=utf-8" />\r\n',
           META_TAGS + "\r\n", "<title>%s</title>\r\n" % TITLE,
           '<meta name="description" content="%s" />\r\n' % DESCRIPTION,
           "</head>\r\n", "<body>\r\n", "<h1>Sitemap</h1>\r\n", "<ul>\r\n"]
    for path in listed:
        page = pages[path.split("?")[0]]
        if page.status == 301:
            page = pages[path + "/"]
        url = PLACEHOLDER + path
        title, keywords, description = page.title, page.keywords, page.description
        if len(keywords.encode()) <= 1:
            if len(title.encode()) >= 2:
                keywords = title
            elif len(description.encode()) >= 2:
                keywords = description
        if len(title.encode()) <= 1:
            title = url
        out.append('<li><a title="%s" href="%s">%s</a> : %s</li>\r\n' % (
            escape(keywords, True), url.replace('"', "&quot;"), escape(title, False),
            escape(description, False)))
    out += ["</ul>\r\n", "<br />\r\n", "<br />\r\n", FOOTER_LINE + "\r\n", "\r\n",
            END_OF_BODY + "\r\n", "</body>\r\n", "</html>"]
    with open(os.path.join(directory, "expected_sitemap.htm"), "wb") as f:
        f.write("".join(out).encode("utf-8"))
    with open(os.path.join(directory, "expected_urllist.txt"), "wb") as f:
        f.write("\r\n".join(PLACEHOLDER + p for p in listed).encode("utf-8"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["site", "expected"])
    parser.add_argument("directory")
    parser.add_argument("base", nargs="?", default="")
    parser.add_argument("--pages", type=int, default=220)
    args = parser.parse_args()
    if args.pages < 2:
        sys.exit("--pages must be at least 2")
    os.makedirs(args.directory, exist_ok=True)
    if args.mode == "site":
        if not args.base:
            sys.exit("site needs the base address, e.g. http://127.0.0.1:8080")
        write_site(args.directory, args.base.rstrip("/"), args.pages)
    else:
        write_expected(args.directory, args.pages)


if __name__ == "__main__":
    main()
