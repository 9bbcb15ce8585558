#!/usr/bin/env python3
"""Doxygen input filter: reads a public header as written and prints it with
its comments in the form Doxygen takes as documentation.

The headers are commented in plain // style, for people first:
- a comment documents every declaration that follows it up to the next blank
  line or comment (one comment may describe a family of overloads);
- a banner "// ---- Title ----" (possibly over two lines), with the comment
  lines right after it, opens a group of members that ends at the next banner
  or at the end of the class.
Usage: doc_comments.py HEADER
"""
import re
import sys

STATEMENT_ENDS = (';', '{', '}', ':')


def banner_title(lines):
    parts = [re.sub(r'^//\s*-*\s*|\s*-+$', '', line.strip()) for line in lines]
    return ' '.join(p for p in parts if p)


def main(path):
    with open(path, encoding='utf-8') as f:
        lines = f.read().split('\n')
    out = []
    doc = []            # the comment block that documents the current run
    comment_open = False  # the previous line was a comment line
    group_open = False
    in_statement = False
    i = 0
    while i < len(lines):
        line = lines[i]
        text = line.strip()
        i += 1
        if in_statement:
            out.append(line)
            if text.endswith(STATEMENT_ENDS):
                in_statement = False
                if not text.endswith(';'):
                    doc = []
            continue
        if text.startswith('// ----'):
            banner = [line]
            while not banner[-1].rstrip().endswith('--') and i < len(lines):
                banner.append(lines[i])
                i += 1
            about = []
            while i < len(lines) and lines[i].strip().startswith('//'):
                about.append(re.sub(r'^//\s?', '', lines[i].strip()))
                i += 1
            if group_open:
                out.append('//@}')
            out.append('/** @name ' + banner_title(banner))
            out.extend(' * ' + a for a in about)
            out.append(' */')
            out.append('//@{')
            group_open = True
            doc, comment_open = [], False
        elif text.startswith('//'):
            if not comment_open:
                doc = []
            doc.append(re.sub(r'^(\s*)//', r'\1///', line))
            comment_open = True
        elif not text or text.startswith('#'):
            out.append(line)
            doc, comment_open = [], False
        else:
            if text == '};' and group_open:
                out.append('//@}')
                group_open = False
            out.extend(doc)
            out.append(line)
            comment_open = False
            if not text.endswith(STATEMENT_ENDS):
                in_statement = True
            elif not text.endswith(';'):
                doc = []
    sys.stdout.write('\n'.join(out))


if __name__ == '__main__':
    main(sys.argv[1])
