<?xml version="1.0" encoding="ISO-8859-1"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" encoding="ISO-8859-1"/>
<!-- The sample stylesheet without its hidden blocks, as the print control
     transforms a "full" report.  Xalan-C builds a node set that must be in
     document order by inserting node after node: a path through several
     steps that gathers many nodes (count(report/detail/line)) or a union
     (select="line|page") gets quadratic on large reports.  Select from the
     context node in one step, as the templates below do. -->
<xsl:template match="/">
<html>
<head>
<title><xsl:value-of select="report/report_info/title"/></title>
<style type="text/css">
body { font-family: "Arial"; font-size: 11pt; }
@media print {
  body { font-family: "Courier New"; font-size: 9pt; line-height: 1.2em; }
  h1 { font-family: "Arial"; font-size: 12pt; line-height: 1.5em; }
  p { font-size: 8pt; }
}
</style>
</head>
<body>
<h1><xsl:value-of select="report/report_info/title"/></h1>
<xsl:apply-templates select="report/*[not(self::report_info)]"/>
<div class="footer" style="display: none "><p>hidden footer</p></div>
</body>
</html>
</xsl:template>
<xsl:template match="page_header"><pre class="hdr"><xsl:value-of select="line"/></pre></xsl:template>
<xsl:template match="detail"><pre><xsl:for-each select="line"><xsl:value-of select="."/><xsl:text>&#10;</xsl:text></xsl:for-each></pre></xsl:template>
<xsl:template match="page|soft_page"><div style="page-break-after: always"></div></xsl:template>
</xsl:stylesheet>
