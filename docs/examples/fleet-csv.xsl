<?xml version="1.0" encoding="UTF-8"?>
<!-- Turns many inventory documents into one CSV table (RFC 4180): a header row of "host" and the
     setting names in document order, then one row a host. The input lists the documents:
       <hosts><host name="web1" file="/path/web1.xml"/> ...</hosts>
     A field holding a comma, a double quote or a line break is quoted, its quotes doubled.
     xsltproc -o fleet.csv fleet-csv.xsl hosts.xml -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:QX="http://schemas.machineinfo.example/movrel/quorvane">
  <xsl:output method="text" encoding="UTF-8"/>

  <xsl:variable name="names" select="document(/hosts/host[1]/@file)/QX:data/QX:section/QX:setting/@name"/>

  <xsl:template match="/hosts">
    <xsl:text>host</xsl:text>
    <xsl:for-each select="$names">
      <xsl:text>,</xsl:text>
      <xsl:call-template name="field">
        <xsl:with-param name="text" select="string(.)"/>
      </xsl:call-template>
    </xsl:for-each>
    <xsl:text>&#13;&#10;</xsl:text>
    <xsl:for-each select="host">
      <xsl:variable name="settings" select="document(@file)/QX:data/QX:section/QX:setting"/>
      <xsl:call-template name="field">
        <xsl:with-param name="text" select="string(@name)"/>
      </xsl:call-template>
      <xsl:for-each select="$names">
        <xsl:variable name="name" select="string(.)"/>
        <xsl:text>,</xsl:text>
        <xsl:call-template name="field">
          <xsl:with-param name="text" select="string($settings[@name = $name]/@value)"/>
        </xsl:call-template>
      </xsl:for-each>
      <xsl:text>&#13;&#10;</xsl:text>
    </xsl:for-each>
  </xsl:template>

  <xsl:template name="field">
    <xsl:param name="text"/>
    <xsl:choose>
      <xsl:when test="contains($text, '&quot;') or contains($text, ',') or contains($text, '&#10;')
                      or contains($text, '&#13;')">
        <xsl:text>"</xsl:text>
        <xsl:call-template name="double-quotes">
          <xsl:with-param name="text" select="$text"/>
        </xsl:call-template>
        <xsl:text>"</xsl:text>
      </xsl:when>
      <xsl:otherwise>
        <xsl:value-of select="$text"/>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template name="double-quotes">
    <xsl:param name="text"/>
    <xsl:choose>
      <xsl:when test="contains($text, '&quot;')">
        <xsl:value-of select="substring-before($text, '&quot;')"/>
        <xsl:text>""</xsl:text>
        <xsl:call-template name="double-quotes">
          <xsl:with-param name="text" select="substring-after($text, '&quot;')"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise>
        <xsl:value-of select="$text"/>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
